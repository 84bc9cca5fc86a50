// velq for C++ hosts: a header-only layer over the C interface (velq_c.h).
//
// Every object here owns what it holds and gives it back in its destructor; a host never
// writes new or delete, and nothing it passes is taken. Errors are exceptions of one
// type, velq::Error, which carries the engine's error as data. Exceptions never cross the
// engine's C frames: a host function's exception is caught at the boundary and becomes
// error 31 of the run.
//
//   velq::Engine engine;
//   engine.function("dist", [](double x, double y) { return std::sqrt(x * x + y * y); });
//   velq::Instance game = engine.compile_file("game.velq").load();
//   int score = game.call<int>("score", 3, "x");
#ifndef VELQ_HPP
#define VELQ_HPP

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <typeindex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "velq_c.h"

namespace velq {

// ---- Errors ----------------------------------------------------------------------------

// One frame of a run-time error's call chain, innermost first.
struct Frame {
  std::string function;
  std::string module;  // "" for the script's own code
  std::string file;    // "" when none
  int line = 0;
};

// What went wrong: a compile error, a run-time error of the engine (codes 1 to 31), or a
// misuse of this layer (a value that does not convert, an unknown global, ...).
class Error : public std::exception {
 public:
  // The codes of the engine's run-time errors, and the statuses of its C interface.
  enum Code : int {
    DataStackUnderflow = 1,
    ControlStackUnderflow = 2,
    ConditionNotNumber = 3,
    BadArithmeticConversion = 4,
    NullOperation = 5,
    InternalError = 6,
    NoMain = 7,
    ControlStackOverflow = 8,
    DivideByZero = 9,
    RealOperation = 10,
    FunctionNotFound = 11,
    WrongArgumentCount = 12,
    TypeCast = 13,
    NotAnObject = 14,
    UnknownAttribute = 15,
    ModuleNotFound = 16,
    NotText = 17,
    BadRegularExpression = 18,
    NotWholeNumber = 19,
    ObjectOperation = 20,
    BadClass = 21,
    VariableExists = 22,
    IndexNotInteger = 23,
    NotAnArray = 24,
    ConstantAssignment = 25,
    StepLimit = 26,
    TimeLimit = 27,
    MemoryLimit = 28,
    OutOfMemory = 29,
    Cancelled = 30,
    HostException = 31,
    CompileError = VELQ_STATUS_COMPILE_ERROR,
    Invalid = VELQ_STATUS_INVALID,  // also: a value that does not convert
    NoMemory = VELQ_STATUS_NO_MEMORY,
    FileError = VELQ_STATUS_FILE_ERROR,
  };

  // An error of the host's own, or of this layer: only a code and a message.
  explicit Error(std::string message, int code = HostException)
      : code_(code), message_(std::move(message)) {
    compose();
  }

  // Takes the C error (and frees it); status is used when there is no error object.
  static Error fromC(velq_status status, velq_error *error, const char *context) {
    if (!error) {
      return Error(std::string(context) + ": " + describeStatus(status), status);
    }
    Error result(error);
    velq_error_free(error);
    return result;
  }

  int code() const noexcept { return code_; }
  // The engine's one line, "Error 11 in line 4: Function not found".
  const std::string &message() const noexcept { return message_; }
  // The function, variable, attribute or module the error is about ("" when none).
  const std::string &subject() const noexcept { return subject_; }
  // More text: a host exception's own message, a module's compile error.
  const std::string &detail() const noexcept { return detail_; }
  int line() const noexcept { return line_; }
  int column() const noexcept { return column_; }  // compile errors; else 0
  const std::string &source() const noexcept { return source_; }
  const std::vector<Frame> &frames() const noexcept { return frames_; }

  // "source:line: message", then the subject, the detail and the call chain, a line each.
  const char *what() const noexcept override { return what_.c_str(); }

  static const char *describeStatus(velq_status status) {
    switch (status) {
      case VELQ_STATUS_COMPILE_ERROR:
        return "the script did not compile";
      case VELQ_STATUS_INVALID:
        return "invalid argument, or the instance is busy";
      case VELQ_STATUS_NO_MEMORY:
        return "out of memory";
      case VELQ_STATUS_FILE_ERROR:
        return "the file could not be read";
      default:
        return "run-time error";
    }
  }

 private:
  explicit Error(const velq_error *error)
      : code_(velq_error_code(error)),
        message_(text(velq_error_message(error))),
        subject_(text(velq_error_subject(error))),
        detail_(text(velq_error_detail(error))),
        source_(text(velq_error_source(error))),
        line_(velq_error_line(error)),
        column_(velq_error_column(error)) {
    size_t count = velq_error_frame_count(error);
    for (size_t i = 0; i < count; ++i) {
      const char *function = nullptr, *module = nullptr, *file = nullptr;
      int line = 0;
      if (velq_error_frame(error, i, &function, &module, &file, &line) != VELQ_OK) break;
      frames_.push_back(Frame{text(function), text(module), text(file), line});
    }
    compose();
  }

  static std::string text(const char *s) { return s ? s : ""; }

  void compose() {
    what_.clear();
    if (!source_.empty()) what_ += source_ + ":" + std::to_string(line_) + ": ";
    what_ += message_;
    if (!subject_.empty()) what_ += "\n  subject: " + subject_;
    if (!detail_.empty()) what_ += "\n  detail: " + detail_;
    for (const Frame &frame : frames_) {
      what_ += "\n  at " + frame.function;
      if (!frame.module.empty()) what_ += " in module " + frame.module;
      what_ += " (" + (frame.file.empty() ? std::string("line ") : frame.file + ":") +
               std::to_string(frame.line) + ")";
    }
  }

  int code_ = 0;
  std::string message_, subject_, detail_, source_;
  int line_ = 0, column_ = 0;
  std::vector<Frame> frames_;
  std::string what_;
};

namespace detail {

// Throws the error that a failed status of a call without an error object stands for.
inline void check(velq_status status, const char *context) {
  if (status == VELQ_OK) return;
  if (status == VELQ_STATUS_NO_MEMORY)
    throw Error(std::string(context) + ": out of memory", status);
  throw Error(std::string(context) + ": " + Error::describeStatus(status), status);
}

template <class>
inline constexpr bool dependentFalse = false;

}  // namespace detail

// ---- Values ----------------------------------------------------------------------------

// The engine's types, as typeof names them.
enum class Type : int {
  Null = VELQ_TYPE_NULL,
  Object = VELQ_TYPE_OBJECT,
  Array = VELQ_TYPE_ARRAY,
  String = VELQ_TYPE_STRING,
  Real = VELQ_TYPE_REAL,
  Int32 = VELQ_TYPE_INT32,
  Int64 = VELQ_TYPE_INT64,
  UInt32 = VELQ_TYPE_UINT32,
  UInt64 = VELQ_TYPE_UINT64,
};

class Value;

// How a C++ type is read from a value: Reader<T>::read(value, out, why) stores the value
// in out, or returns false and says why ("expected a number, got array"). Specialized
// below for numbers, texts, arrays (std::vector, std::map<int32_t, T>), std::optional and
// Value; a type without one is a host class (see Engine::type).
template <class T, class = void>
struct Reader {
  static constexpr bool exists = false;
};

template <class T>
inline constexpr bool readable = Reader<T>::exists;

// One value of the engine: null, a number, a text, an array or an object. It owns its
// handle; copies are independent (an array copy shares the array until one of them is
// changed, an object copy refers to the same object).
class Value {
 public:
  Value() noexcept = default;
  Value(std::nullptr_t) noexcept {}
  // Only a bool itself: a pointer does not become a truth value.
  template <class T, std::enable_if_t<std::is_same_v<T, bool>, int> = 0>
  Value(T b) {
    make(velq_value_bool(b ? 1 : 0, &handle_));
  }
  // char is text: Value('c') is "c". The other integer types are numbers.
  Value(char c) { make(velq_value_text(&c, 1, &handle_)); }
  template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                          !std::is_same_v<T, char>,
                                      int> = 0>
  Value(T n) {
    if constexpr (std::is_signed_v<T>) {
      make(velq_value_int(static_cast<int64_t>(n), &handle_));
    } else {
      make(velq_value_uint(static_cast<uint64_t>(n), &handle_));
    }
  }
  template <class T, std::enable_if_t<std::is_floating_point_v<T>, int> = 0>
  Value(T d) {
    make(velq_value_real(static_cast<double>(d), &handle_));
  }
  // A null pointer makes the null value.
  Value(const char *text) {
    if (text) make(velq_value_text(text, std::char_traits<char>::length(text), &handle_));
  }
  Value(std::string_view text) { make(velq_value_text(text.data(), text.size(), &handle_)); }
  Value(const std::string &text) : Value(std::string_view(text)) {}
  // An array holding the elements at 0, 1, 2, ...
  template <class T, std::enable_if_t<std::is_constructible_v<Value, const T &>, int> = 0>
  Value(const std::vector<T> &elements) {
    *this = array();
    for (size_t i = 0; i < elements.size(); ++i) set(arrayIndex(i), Value(elements[i]));
  }
  // An array holding the elements at their indices.
  template <class T, std::enable_if_t<std::is_constructible_v<Value, const T &>, int> = 0>
  Value(const std::map<int32_t, T> &elements) {
    *this = array();
    for (const auto &[index, element] : elements) set(index, Value(element));
  }
  template <class T, std::enable_if_t<std::is_constructible_v<Value, const T &>, int> = 0>
  Value(const std::optional<T> &value) {
    if (value) *this = Value(*value);
  }

  Value(const Value &other) {
    if (other.handle_) make(velq_value_copy(other.handle_, &handle_));
  }
  Value(Value &&other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Value &operator=(const Value &other) {
    if (this != &other) *this = Value(other);
    return *this;
  }
  Value &operator=(Value &&other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  ~Value() { velq_value_free(handle_); }

  // A new empty array.
  static Value array() {
    Value value;
    value.make(velq_array_new(&value.handle_));
    return value;
  }

  // The C handle, for mixing with velq_c.h: take adopts a handle (the value frees it),
  // handle lends it (null for the null value), release gives it away.
  static Value take(velq_value *handle) noexcept {
    Value value;
    value.handle_ = handle;
    return value;
  }
  const velq_value *handle() const noexcept { return handle_; }
  velq_value *handle() noexcept { return handle_; }
  velq_value *release() noexcept { return std::exchange(handle_, nullptr); }

  Type type() const noexcept { return static_cast<Type>(velq_value_type(handle_)); }
  std::string type_name() const { return typeName(handle_); }
  bool is_null() const noexcept { return type() == Type::Null; }
  bool is_array() const noexcept { return type() == Type::Array; }
  bool is_object() const noexcept { return type() == Type::Object; }
  bool is_number() const noexcept { return isNumber(velq_value_type(handle_)); }
  // A text, or a number (which has a text form too).
  bool is_text() const noexcept { return type() == Type::String || is_number(); }

  // Whether the value converts to T, the conversion (throwing velq::Error when it does
  // not), and the conversion as an optional (empty when it does not).
  template <class T>
  bool is() const {
    return get<T>().has_value();
  }
  template <class T>
  T as() const {
    static_assert(readable<T>, "velq::Value::as: no conversion to this type");
    T out{};
    std::string why;
    if (!Reader<T>::read(handle_, out, why)) throw Error(why, Error::Invalid);
    return out;
  }
  template <class T>
  std::optional<T> get() const {
    static_assert(readable<T>, "velq::Value::get: no conversion to this type");
    T out{};
    std::string why;
    if (!Reader<T>::read(handle_, out, why)) return std::nullopt;
    return out;
  }

  // The text as a script prints it; "null" for null, "[a, b]" for an array indexed from
  // 0 without gaps, "{-1: a, 5: b}" for any other, "object CLASS" for an object.
  std::string to_string() const;

  // Arrays: the number of elements, the element at an index (null where there is none),
  // storing a copy of a value at an index. They throw velq::Error for a value that is
  // not an array.
  size_t size() const {
    size_t size = 0;
    detail::check(velq_array_size(handle_, &size), "velq::Value::size: not an array");
    return size;
  }
  Value operator[](int32_t index) const {
    Value element;
    detail::check(velq_array_get(handle_, index, &element.handle_),
                  "velq::Value::operator[]: not an array");
    return element;
  }
  Value &set(int32_t index, const Value &element) {
    if (!handle_ || type() != Type::Array)
      throw Error("velq::Value::set: not an array", Error::Invalid);
    detail::check(velq_array_set(handle_, index, element.orNull().get()), "velq::Value::set");
    return *this;
  }

  // The elements of an array in ascending index order, as (index, value) pairs:
  //   for (const auto &[index, element] : array) ...
  class iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = std::pair<int32_t, Value>;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = value_type;

    iterator(const Value *array, size_t position) : array_(array), position_(position) {}
    value_type operator*() const {
      int32_t index = 0;
      velq_value *element = nullptr;
      detail::check(velq_array_entry(array_->handle_, position_, &index, &element),
                    "velq::Value::iterator");
      return {index, Value::take(element)};
    }
    iterator &operator++() {
      ++position_;
      return *this;
    }
    bool operator==(const iterator &other) const { return position_ == other.position_; }
    bool operator!=(const iterator &other) const { return position_ != other.position_; }

   private:
    const Value *array_;
    size_t position_;
  };
  iterator begin() const {
    size();  // throws for a value that is not an array
    return iterator(this, 0);
  }
  iterator end() const { return iterator(this, size()); }

  static bool isNumber(int type) noexcept {
    return type == VELQ_TYPE_REAL || type == VELQ_TYPE_INT32 || type == VELQ_TYPE_INT64 ||
           type == VELQ_TYPE_UINT32 || type == VELQ_TYPE_UINT64;
  }
  static std::string typeName(const velq_value *value) {
    const char *name = velq_type_name(velq_value_type(value));
    return name ? name : "unknown";
  }

  // A handle that is never null (a new null value stands in for the null handle), for
  // the C functions that want a value.
  struct Lent {
    const velq_value *value;
    velq_value *owned = nullptr;
    const velq_value *get() const { return value; }
    Lent(const velq_value *v) : value(v) {
      if (!value) {
        detail::check(velq_value_null(&owned), "velq: a null value");
        value = owned;
      }
    }
    Lent(const Lent &) = delete;
    Lent &operator=(const Lent &) = delete;
    ~Lent() { velq_value_free(owned); }
  };
  Lent orNull() const { return Lent(handle_); }

 private:
  void make(velq_status status) {
    if (status != VELQ_OK) {
      handle_ = nullptr;
      detail::check(status, "velq::Value");
    }
  }
  static int32_t arrayIndex(size_t i) {
    if (i > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
      throw Error("velq::Value: more elements than an array's indices", Error::Invalid);
    }
    return static_cast<int32_t>(i);
  }

  velq_value *handle_ = nullptr;
};

namespace detail {

inline std::string mismatch(const char *expected, const velq_value *value) {
  return std::string("expected ") + expected + ", got " + Value::typeName(value);
}

inline std::string textOf(const velq_value *value) {
  const char *text = nullptr;
  size_t length = 0;
  if (velq_value_get_text(value, &text, &length) != VELQ_OK || !text) return "";
  return std::string(text, length);
}

}  // namespace detail

template <>
struct Reader<Value> {
  static constexpr bool exists = true;
  static bool read(const velq_value *value, Value &out, std::string &) {
    velq_value *copy = nullptr;
    if (value) detail::check(velq_value_copy(value, &copy), "velq: copying a value");
    out = Value::take(copy);
    return true;
  }
};

// A number counts as true when it is not zero.
template <>
struct Reader<bool> {
  static constexpr bool exists = true;
  static bool read(const velq_value *value, bool &out, std::string &why) {
    int b = 0;
    if (!Value::isNumber(velq_value_type(value)) || velq_value_get_bool(value, &b) != VELQ_OK) {
      why = detail::mismatch("a number", value);
      return false;
    }
    out = b != 0;
    return true;
  }
};

// A text of one byte.
template <>
struct Reader<char> {
  static constexpr bool exists = true;
  static bool read(const velq_value *value, char &out, std::string &why) {
    const char *text = nullptr;
    size_t length = 0;
    int type = velq_value_type(value);
    if ((type != VELQ_TYPE_STRING && !Value::isNumber(type)) ||
        velq_value_get_text(value, &text, &length) != VELQ_OK || length != 1) {
      why = detail::mismatch("a single character", value);
      return false;
    }
    out = text[0];
    return true;
  }
};

// Integers: a number of any type whose value is whole and fits T.
template <class T>
struct Reader<T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                  !std::is_same_v<T, char>>> {
  static constexpr bool exists = true;
  static bool read(const velq_value *value, T &out, std::string &why) {
    int type = velq_value_type(value);
    if (!Value::isNumber(type)) {
      why = detail::mismatch("a number", value);
      return false;
    }
    if (type == VELQ_TYPE_REAL) {
      double d = 0;
      velq_value_get_real(value, &d);
      // The range test is done in double: both bounds of every integer type up to 64 bits
      // are exact there (the upper one as 2^N, excluded).
      double low = static_cast<double>(std::numeric_limits<T>::min());
      double high = 2.0 * static_cast<double>(std::numeric_limits<T>::max() / 2 + 1);
      if (!(d >= low && d < high) || static_cast<double>(static_cast<T>(d)) != d) {
        return outOfRange(value, why);
      }
      out = static_cast<T>(d);
      return true;
    }
    if (type == VELQ_TYPE_UINT32 || type == VELQ_TYPE_UINT64) {
      uint64_t n = 0;
      velq_value_get_uint(value, &n);
      if (n > static_cast<uint64_t>(std::numeric_limits<T>::max())) return outOfRange(value, why);
      out = static_cast<T>(n);
      return true;
    }
    int64_t n = 0;
    velq_value_get_int(value, &n);
    if (n < 0 ? (!std::is_signed_v<T> || n < static_cast<int64_t>(std::numeric_limits<T>::min()))
              : static_cast<uint64_t>(n) > static_cast<uint64_t>(std::numeric_limits<T>::max())) {
      return outOfRange(value, why);
    }
    out = static_cast<T>(n);
    return true;
  }
  static bool outOfRange(const velq_value *value, std::string &why) {
    using Wide = std::conditional_t<std::is_signed_v<T>, long long, unsigned long long>;
    why = "expected a whole number from " +
          std::to_string(static_cast<Wide>(std::numeric_limits<T>::min())) + " to " +
          std::to_string(static_cast<Wide>(std::numeric_limits<T>::max())) + ", got " +
          detail::textOf(value);
    return false;
  }
};

template <class T>
struct Reader<T, std::enable_if_t<std::is_floating_point_v<T>>> {
  static constexpr bool exists = true;
  static bool read(const velq_value *value, T &out, std::string &why) {
    if (!Value::isNumber(velq_value_type(value))) {
      why = detail::mismatch("a number", value);
      return false;
    }
    double d = 0;
    uint64_t u = 0;
    if (velq_value_get_real(value, &d) == VELQ_OK) {
      out = static_cast<T>(d);
    } else if (velq_value_get_uint(value, &u) == VELQ_OK) {  // a uint64, which scripts keep
      out = static_cast<T>(u);                               // apart from reals
    } else {
      why = detail::mismatch("a number", value);
      return false;
    }
    return true;
  }
};

// Texts: a text, or a number's text form.
template <>
struct Reader<std::string_view> {
  static constexpr bool exists = true;
  static bool read(const velq_value *value, std::string_view &out, std::string &why) {
    int type = velq_value_type(value);
    const char *text = nullptr;
    size_t length = 0;
    if ((type != VELQ_TYPE_STRING && !Value::isNumber(type)) ||
        velq_value_get_text(value, &text, &length) != VELQ_OK) {
      why = detail::mismatch("a text", value);
      return false;
    }
    out = std::string_view(text ? text : "", length);
    return true;
  }
};

template <>
struct Reader<std::string> {
  static constexpr bool exists = true;
  static bool read(const velq_value *value, std::string &out, std::string &why) {
    std::string_view view;
    if (!Reader<std::string_view>::read(value, view, why)) return false;
    out.assign(view);
    return true;
  }
};

template <class T>
struct Reader<std::optional<T>, std::enable_if_t<readable<T>>> {
  static constexpr bool exists = true;
  static bool read(const velq_value *value, std::optional<T> &out, std::string &why) {
    if (velq_value_type(value) == VELQ_TYPE_NULL) {
      out.reset();
      return true;
    }
    T element{};
    if (!Reader<T>::read(value, element, why)) return false;
    out = std::move(element);
    return true;
  }
};

namespace detail {

// Calls each(index, element) for the elements of an array in index order; false (with why
// naming the index) when one of them does not convert.
template <class T, class Each>
bool readElements(const velq_value *value, std::string &why, Each each) {
  size_t size = 0;
  if (velq_value_type(value) != VELQ_TYPE_ARRAY || velq_array_size(value, &size) != VELQ_OK) {
    why = mismatch("an array", value);
    return false;
  }
  for (size_t position = 0; position < size; ++position) {
    int32_t index = 0;
    velq_value *element = nullptr;
    check(velq_array_entry(value, position, &index, &element), "velq: reading an array");
    Value owner = Value::take(element);
    T converted{};
    if (!Reader<T>::read(element, converted, why)) {
      why = "element " + std::to_string(index) + ": " + why;
      return false;
    }
    each(index, std::move(converted));
  }
  return true;
}

}  // namespace detail

// An array's elements in index order; the indices are not kept.
template <class T>
struct Reader<std::vector<T>, std::enable_if_t<readable<T>>> {
  static constexpr bool exists = true;
  static bool read(const velq_value *value, std::vector<T> &out, std::string &why) {
    out.clear();
    return detail::readElements<T>(
        value, why, [&](int32_t, T &&element) { out.push_back(std::move(element)); });
  }
};

template <class T>
struct Reader<std::map<int32_t, T>, std::enable_if_t<readable<T>>> {
  static constexpr bool exists = true;
  static bool read(const velq_value *value, std::map<int32_t, T> &out, std::string &why) {
    out.clear();
    return detail::readElements<T>(
        value, why, [&](int32_t index, T &&element) { out.emplace(index, std::move(element)); });
  }
};

inline std::string Value::to_string() const {
  switch (type()) {
    case Type::Null:
      return "null";
    case Type::Object: {
      void *object = nullptr;
      const char *name = nullptr;
      velq_value_get_object(handle_, &object, &name);
      return std::string("object ") + (name ? name : "");
    }
    case Type::Array: {
      std::string out;
      bool dense = true;
      int32_t expected = 0;
      for (const auto &[index, element] : *this) {
        dense = dense && index == expected++;
        out += (out.empty() ? "" : ", ") + std::to_string(index) + ": " + element.to_string();
      }
      if (!dense) return "{" + out + "}";
      // Indexed from 0 without gaps: the elements alone.
      out.clear();
      for (const auto &[index, element] : *this) out += (index ? ", " : "") + element.to_string();
      return "[" + out + "]";
    }
    default:
      return detail::textOf(handle_);
  }
}

// ---- Engines, scripts and instances ----------------------------------------------------

class Engine;
class Script;
class Instance;

namespace detail {

// The type-erased parts that the C engine calls back through.
struct FunctionBase {
  virtual ~FunctionBase() = default;
  virtual velq_status call(velq_host_call *call) = 0;
};

struct ClassBase {
  virtual ~ClassBase() = default;
  std::string name;
  std::type_index type = typeid(void);
};

// An object the engine holds for a host class: a heap copy of the host's value, freed by
// its own virtual destructor, so destroying it needs nothing of the engine.
struct BoxBase {
  virtual ~BoxBase() = default;
};
template <class T>
struct Box final : BoxBase {
  template <class U>
  explicit Box(U &&v) : value(std::forward<U>(v)) {}
  T value;
};

// What an Engine and everything made from it share: the C engine and the host
// functions and classes it calls back. Scripts and instances hold it, so those callbacks
// live as long as anything can run them.
struct EngineState {
  velq_engine *engine = nullptr;
  std::vector<std::unique_ptr<FunctionBase>> functions;
  std::vector<std::unique_ptr<ClassBase>> classes;
  std::unordered_map<std::string, ClassBase *> classByName;
  std::unordered_map<std::type_index, ClassBase *> classByType;

  EngineState() { check(velq_engine_new(&engine), "velq::Engine"); }
  EngineState(const EngineState &) = delete;
  EngineState &operator=(const EngineState &) = delete;
  ~EngineState() { velq_engine_free(engine); }

  // The host object of a value, if it is one of class T.
  template <class T>
  T *objectOf(const velq_value *value) const {
    void *object = nullptr;
    const char *name = nullptr;
    if (velq_value_get_object(value, &object, &name) != VELQ_OK || !object || !name) {
      return nullptr;
    }
    auto found = classByName.find(name);
    if (found == classByName.end() || found->second->type != typeid(T)) return nullptr;
    return &static_cast<Box<T> *>(static_cast<BoxBase *>(object))->value;
  }

  template <class T>
  const char *classNameOf() const {
    auto found = classByType.find(typeid(T));
    return found == classByType.end() ? nullptr : found->second->name.c_str();
  }

  // A new object of the host class registered for T, holding a copy of value.
  template <class T>
  Value makeObject(T value) {
    const char *name = classNameOf<T>();
    if (!name) throw Error("velq: the type returned is no registered class", Error::Invalid);
    auto box = std::make_unique<Box<T>>(std::move(value));
    velq_value *out = nullptr;
    check(velq_value_object(engine, name, static_cast<BoxBase *>(box.get()), &out),
          "velq: making an object");
    box.release();  // the engine's now; its destroy callback frees it
    return Value::take(out);
  }

  // Any value a host may hand to a script: what Value is made from, or a host class.
  template <class T>
  Value toValue(T &&value) {
    using D = std::decay_t<T>;
    if constexpr (std::is_constructible_v<Value, T>) {
      return Value(std::forward<T>(value));
    } else if constexpr (std::is_class_v<D>) {
      return makeObject<D>(std::forward<T>(value));
    } else {
      static_assert(dependentFalse<T>, "velq: no conversion of this type to a value");
    }
  }
};

// Arguments of a call into a script, as C handles that live as long as the list.
class Arguments {
 public:
  template <class... A>
  Arguments(EngineState &state, A &&...args) {
    values_.reserve(sizeof...(A));
    (values_.push_back(state.toValue(std::forward<A>(args))), ...);
    for (Value &value : values_) {
      if (!value.handle()) value = nullValue();
      handles_.push_back(value.handle());
    }
  }
  size_t count() const { return handles_.size(); }
  const velq_value *const *data() const { return handles_.empty() ? nullptr : handles_.data(); }

 private:
  static Value nullValue() {
    velq_value *null = nullptr;
    check(velq_value_null(&null), "velq: a null value");
    return Value::take(null);
  }
  std::vector<Value> values_;
  std::vector<const velq_value *> handles_;
};

// The signature of a callable: its result and parameter types.
template <class F>
struct Signature : Signature<decltype(&F::operator())> {};
template <class R, class... A>
struct Signature<R(A...)> {
  using Result = R;
  using Parameters = std::tuple<A...>;
};
template <class R, class... A>
struct Signature<R (*)(A...)> : Signature<R(A...)> {};
template <class R, class... A>
struct Signature<R (*)(A...) noexcept> : Signature<R(A...)> {};
template <class R, class C, class... A>
struct Signature<R (C::*)(A...)> : Signature<R(A...)> {};
template <class R, class C, class... A>
struct Signature<R (C::*)(A...) const> : Signature<R(A...)> {};
template <class R, class C, class... A>
struct Signature<R (C::*)(A...) noexcept> : Signature<R(A...)> {};
template <class R, class C, class... A>
struct Signature<R (C::*)(A...) const noexcept> : Signature<R(A...)> {};

template <class T>
std::string expectedObject(const velq_value *value, const EngineState &state) {
  const char *name = state.classNameOf<T>();
  std::string expected = std::string("a ") + (name ? name : "host") + " object";
  void *object = nullptr;
  const char *got = nullptr;
  if (velq_value_get_object(value, &object, &got) == VELQ_OK && got) {
    return "expected " + expected + ", got a " + got + " object";
  }
  return mismatch(expected.c_str(), value);
}

// One parameter of a host function, read from its argument: a value of a readable type,
// or a host object (T&, const T&, T*, or T by value, which copies it).
template <class P, class = void>
struct Parameter {
  using D = std::decay_t<P>;
  D stored{};
  bool read(const velq_value *value, EngineState &, std::string &why) {
    return Reader<D>::read(value, stored, why);
  }
  decltype(auto) get() {
    if constexpr (std::is_lvalue_reference_v<P>) {
      return static_cast<P>(stored);
    } else {
      return std::move(stored);
    }
  }
};

template <class P>
struct Parameter<P, std::enable_if_t<!readable<std::decay_t<P>> && !std::is_pointer_v<P>>> {
  using T = std::remove_cv_t<std::remove_reference_t<P>>;
  static_assert(std::is_class_v<T>, "velq: a host function's parameter type has no conversion");
  T *object = nullptr;
  bool read(const velq_value *value, EngineState &state, std::string &why) {
    object = state.objectOf<T>(value);
    if (!object) why = expectedObject<T>(value, state);
    return object != nullptr;
  }
  P get() { return static_cast<P>(*object); }
};

// A pointer parameter also takes null.
template <class P>
struct Parameter<P, std::enable_if_t<std::is_pointer_v<P>>> {
  using T = std::remove_cv_t<std::remove_pointer_t<P>>;
  static_assert(std::is_class_v<T>, "velq: a pointer parameter must point to a host class");
  T *object = nullptr;
  bool read(const velq_value *value, EngineState &state, std::string &why) {
    if (velq_value_type(value) == VELQ_TYPE_NULL) return true;
    object = state.objectOf<T>(value);
    if (!object) why = expectedObject<T>(value, state);
    return object != nullptr;
  }
  P get() { return object; }
};

// The error a host function ends its run with when an argument does not convert.
struct ArgumentError {
  std::string text;
};

template <class F, class Parameters>
struct HostFunction;

template <class F, class... A>
struct HostFunction<F, std::tuple<A...>> final : FunctionBase {
  template <class G>
  HostFunction(G &&g, EngineState &s) : f(std::forward<G>(g)), state(s) {}
  F f;
  EngineState &state;

  velq_status call(velq_host_call *call) override {
    return invoke(call, std::index_sequence_for<A...>{});
  }

  template <size_t... I>
  velq_status invoke(velq_host_call *call, std::index_sequence<I...>) {
    std::tuple<Parameter<A>...> parameters;
    std::string why;
    // Each argument in turn; the first that does not convert names its position.
    size_t failed = 0;
    ((failed == 0 && !std::get<I>(parameters).read(velq_call_arg(call, I), state, why)
          ? (failed = I + 1, 0)
          : 0),
     ...);
    if (failed) {
      throw ArgumentError{std::string(velq_call_name(call)) + ": argument " +
                          std::to_string(failed) + ": " + why};
    }
    using R = std::invoke_result_t<F &, A...>;
    if constexpr (std::is_void_v<R>) {
      std::invoke(f, std::get<I>(parameters).get()...);
      return VELQ_OK;
    } else {
      Value result = state.toValue(std::invoke(f, std::get<I>(parameters).get()...));
      if (!result.handle()) return VELQ_OK;  // null
      return velq_call_return(call, result.release());
    }
  }
};

// The variadic form: one parameter, const std::vector<Value>&, receives every argument.
template <class F>
struct VariadicFunction final : FunctionBase {
  template <class G>
  VariadicFunction(G &&g, EngineState &s) : f(std::forward<G>(g)), state(s) {}
  F f;
  EngineState &state;

  velq_status call(velq_host_call *call) override {
    std::vector<Value> arguments;
    size_t count = velq_call_argc(call);
    arguments.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      Value argument;
      std::string why;
      Reader<Value>::read(velq_call_arg(call, i), argument, why);
      arguments.push_back(std::move(argument));
    }
    using R = std::invoke_result_t<F &, const std::vector<Value> &>;
    if constexpr (std::is_void_v<R>) {
      std::invoke(f, static_cast<const std::vector<Value> &>(arguments));
      return VELQ_OK;
    } else {
      Value result =
          state.toValue(std::invoke(f, static_cast<const std::vector<Value> &>(arguments)));
      if (!result.handle()) return VELQ_OK;
      return velq_call_return(call, result.release());
    }
  }
};

// Whether a host function's parameters are the variadic form, one std::vector<Value>.
template <class Parameters>
inline constexpr bool takesAllArguments = false;
template <class P>
inline constexpr bool takesAllArguments<std::tuple<P>> =
    std::is_same_v<std::decay_t<P>, std::vector<Value>>;

// The one entry from the engine into host functions. No exception leaves it: each ends
// the run with error 31, the exception's text as its detail.
inline velq_status callHostFunction(velq_host_call *call, void *userdata) noexcept {
  try {
    return static_cast<FunctionBase *>(userdata)->call(call);
  } catch (const ArgumentError &error) {
    return velq_call_fail(call, error.text.c_str());
  } catch (const std::exception &error) {
    return velq_call_fail(call, error.what());
  } catch (...) {
    return velq_call_fail(call, "an exception that is no std::exception");
  }
}

template <class T>
struct Attribute {
  std::function<Value(const T &)> get;               // empty: not readable
  std::function<bool(T &, const velq_value *)> set;  // empty: read-only; false: no conversion
};

template <class T>
struct Class final : ClassBase {
  std::unordered_map<std::string, Attribute<T>> attributes;

  static T &objectOf(void *object) {
    return static_cast<Box<T> *>(static_cast<BoxBase *>(object))->value;
  }

  // The callbacks of the C engine. An exception in a getter or setter ends the run with
  // error 31; an unknown attribute, a read-only one or a value that does not convert is
  // error 15.
  static velq_status get(void *object, const char *name, velq_value **result,
                         void *userdata) noexcept {
    try {
      auto *self = static_cast<Class *>(userdata);
      auto found = self->attributes.find(name);
      if (found == self->attributes.end() || !found->second.get) return VELQ_STATUS_INVALID;
      *result = found->second.get(objectOf(object)).release();
      if (!*result) return velq_value_null(result);
      return VELQ_OK;
    } catch (const std::bad_alloc &) {
      return Error::OutOfMemory;
    } catch (...) {
      return VELQ_STATUS_HOST_EXCEPTION;
    }
  }
  static velq_status set(void *object, const char *name, const velq_value *value,
                         void *userdata) noexcept {
    try {
      auto *self = static_cast<Class *>(userdata);
      auto found = self->attributes.find(name);
      if (found == self->attributes.end() || !found->second.set) return VELQ_STATUS_INVALID;
      return found->second.set(objectOf(object), value) ? VELQ_OK : VELQ_STATUS_INVALID;
    } catch (const std::bad_alloc &) {
      return Error::OutOfMemory;
    } catch (...) {
      return VELQ_STATUS_HOST_EXCEPTION;
    }
  }
  static void destroy(void *object, void *) noexcept { delete static_cast<BoxBase *>(object); }
};

}  // namespace detail

// Registers the attributes of a host class: Engine::type<T>(name).attribute(...).
template <class T>
class ClassBuilder {
 public:
  explicit ClassBuilder(detail::EngineState &state, detail::Class<T> &c)
      : state_(state), class_(c) {}

  // A data member, read and written: .attribute("x", &Point::x). A member function
  // (.attribute("length", &Point::length)) or any callable taking const T& is read-only.
  template <class G>
  ClassBuilder &attribute(const std::string &name, G getter) {
    detail::Attribute<T> &attribute = class_.attributes[name];
    attribute.get = [state = &state_, getter](const T &object) {
      return state->toValue(std::invoke(getter, object));
    };
    if constexpr (std::is_member_object_pointer_v<G>) {
      using M = std::remove_reference_t<decltype(std::declval<T &>().*getter)>;
      attribute.set = [getter](T &object, const velq_value *value) {
        M converted{};
        std::string why;
        if (!Reader<M>::read(value, converted, why)) return false;
        object.*getter = std::move(converted);
        return true;
      };
    } else {
      attribute.set = nullptr;
    }
    return *this;
  }

  // A getter and a setter: the setter is a callable (T&, V) or a member function (V).
  template <class G, class S>
  ClassBuilder &attribute(const std::string &name, G getter, S setter) {
    attribute(name, getter);
    using Parameters = typename detail::Signature<S>::Parameters;
    using V = std::decay_t<std::tuple_element_t<std::tuple_size_v<Parameters> - 1, Parameters>>;
    class_.attributes[name].set = [setter](T &object, const velq_value *value) {
      V converted{};
      std::string why;
      if (!Reader<V>::read(value, converted, why)) return false;
      std::invoke(setter, object, std::move(converted));
      return true;
    };
    return *this;
  }

 private:
  detail::EngineState &state_;
  detail::Class<T> &class_;
};

// Budgets for every later call of an instance; zero turns one off.
struct Limits {
  uint64_t steps = 0;                 // instructions (and work) a call may do
  std::chrono::milliseconds time{0};  // wall-clock time of a call
  uint64_t memory = 0;                // bytes the run may hold at once
};

// Stops the call in progress of an instance with error 30. A small copyable handle,
// safe to use from any thread and from a signal handler (cancel only sets a flag); it
// keeps the instance's C handle alive, so it never dangles. An empty token does nothing.
class CancelToken {
 public:
  CancelToken() = default;
  void cancel() const noexcept {
    if (instance_) velq_cancel(instance_.get());
  }
  explicit operator bool() const noexcept { return instance_ != nullptr; }

 private:
  friend class Instance;
  explicit CancelToken(std::shared_ptr<velq_instance> instance) : instance_(std::move(instance)) {}
  std::shared_ptr<velq_instance> instance_;
};

namespace detail {

// Calls the script function of that name (main when name is null) with the arguments
// converted to values.
template <class... A>
Value callScript(EngineState &engine, velq_instance *instance, const char *name, A &&...args) {
  Arguments arguments(engine, std::forward<A>(args)...);
  velq_value *result = nullptr;
  velq_error *error = nullptr;
  velq_status status =
      name ? velq_call(instance, name, arguments.count(), arguments.data(), &result, &error)
           : velq_run(instance, arguments.count(), arguments.data(), &result, &error);
  if (status != VELQ_OK) throw Error::fromC(status, error, name ? name : "main");
  return Value::take(result);
}

// A call's result as the type the host asked for.
template <class R>
R convertResult(Value &&result, const char *name) {
  if constexpr (std::is_void_v<R>) {
    return;
  } else if constexpr (std::is_same_v<R, Value>) {
    return std::move(result);
  } else {
    static_assert(!std::is_same_v<R, std::string_view>,
                  "velq: a call's result is a temporary; take it as std::string");
    static_assert(readable<R>, "velq: no conversion of a result to this type");
    R out{};
    std::string why;
    if (!Reader<R>::read(result.handle(), out, why)) {
      throw Error(std::string(name) + ": result: " + why, Error::Invalid);
    }
    return out;
  }
}

}  // namespace detail

class Function;

// A loaded script: its globals persist from call to call. It serves one call at a time;
// instances of one script are independent of each other. Movable, not copyable.
class Instance {
 public:
  Instance(Instance &&) noexcept = default;
  Instance &operator=(Instance &&) noexcept = default;
  Instance(const Instance &) = delete;
  Instance &operator=(const Instance &) = delete;

  // Calls the script function of that name with the arguments converted to values, and
  // gives its result as a Value or converted to R: call<int>("score", 3, "x").
  template <class R = Value, class... A>
  R call(const std::string &name, A &&...args) {
    return detail::convertResult<R>(
        detail::callScript(*engine_, handle(), name.c_str(), std::forward<A>(args)...),
        name.c_str());
  }

  // Runs main with the arguments ($1, $2, ...).
  template <class R = Value, class... A>
  R run(A &&...args) {
    return detail::convertResult<R>(
        detail::callScript(*engine_, handle(), nullptr, std::forward<A>(args)...), "main");
  }

  // A callable handle for one script function: f(3, "x") is call("score", 3, "x").
  inline Function function(std::string name) const;

  // Globals: read after a call, set before or between calls.
  Value global(const std::string &name) const {
    velq_value *out = nullptr;
    velq_status status = velq_get_global(handle(), name.c_str(), &out);
    if (status != VELQ_OK) {
      throw Error("velq::Instance::global: no global named " + name, status);
    }
    return Value::take(out);
  }
  template <class T>
  void set_global(const std::string &name, T &&value) {
    Value converted = engine_->toValue(std::forward<T>(value));
    detail::check(velq_set_global(handle(), name.c_str(), converted.orNull().get()),
                  "velq::Instance::set_global");
  }

  void limits(const Limits &limits) {
    uint64_t milliseconds =
        limits.time.count() > 0 ? static_cast<uint64_t>(limits.time.count()) : 0;
    detail::check(velq_set_step_limit(handle(), limits.steps), "velq::Instance::limits");
    detail::check(velq_set_time_limit(handle(), milliseconds), "velq::Instance::limits");
    detail::check(velq_set_memory_limit(handle(), limits.memory), "velq::Instance::limits");
  }

  CancelToken cancel_token() const { return CancelToken(instance_); }

  velq_instance *handle() const {
    if (!instance_) throw Error("velq::Instance: used after a move", Error::Invalid);
    return instance_.get();
  }

 private:
  friend class Script;
  Instance(std::shared_ptr<detail::EngineState> engine, velq_instance *instance)
      : engine_(std::move(engine)), instance_(instance, velq_instance_free) {}

  // Declared first: the engine's callbacks outlive the instance that may run them.
  std::shared_ptr<detail::EngineState> engine_;
  std::shared_ptr<velq_instance> instance_;
};

// A script function of an instance, called by name. It shares the instance, so it stays
// valid when the Instance object is moved or gone; the name is looked up on each call.
class Function {
 public:
  template <class... A>
  Value operator()(A &&...args) const {
    return detail::callScript(*engine_, instance_.get(), name_.c_str(), std::forward<A>(args)...);
  }
  template <class R, class... A>
  R call(A &&...args) const {
    return detail::convertResult<R>((*this)(std::forward<A>(args)...), name_.c_str());
  }
  const std::string &name() const { return name_; }

 private:
  friend class Instance;
  Function(std::shared_ptr<detail::EngineState> engine, std::shared_ptr<velq_instance> instance,
           std::string name)
      : engine_(std::move(engine)), instance_(std::move(instance)), name_(std::move(name)) {}
  std::shared_ptr<detail::EngineState> engine_;
  std::shared_ptr<velq_instance> instance_;
  std::string name_;
};

inline Function Instance::function(std::string name) const {
  handle();
  return Function(engine_, instance_, std::move(name));
}

// A compiled script. Copies share it; it may be loaded any number of times.
class Script {
 public:
  // A new instance, its globals made and its modules merged.
  Instance load() const {
    velq_instance *instance = nullptr;
    velq_error *error = nullptr;
    velq_status status = velq_load(handle(), &instance, &error);
    if (status != VELQ_OK) throw Error::fromC(status, error, "velq::Script::load");
    return Instance(engine_, instance);
  }
  // Loads the script and runs main with the arguments.
  template <class... A>
  Value run(A &&...args) const {
    return load().run(std::forward<A>(args)...);
  }

  velq_script *handle() const {
    if (!script_) throw Error("velq::Script: used after a move", Error::Invalid);
    return script_.get();
  }

 private:
  friend class Engine;
  Script(std::shared_ptr<detail::EngineState> engine, velq_script *script)
      : engine_(std::move(engine)), script_(script, velq_script_free) {}
  std::shared_ptr<detail::EngineState> engine_;
  std::shared_ptr<velq_script> script_;
};

// An engine: the host functions and classes, the module policy and where output goes.
// Set it up first; then it is shared read-only by the scripts compiled with it, in any
// threads. Movable, not copyable; its scripts and instances keep what they need alive.
class Engine {
 public:
  Engine() : state_(std::make_shared<detail::EngineState>()) {}
  Engine(Engine &&) noexcept = default;
  Engine &operator=(Engine &&) noexcept = default;
  Engine(const Engine &) = delete;
  Engine &operator=(const Engine &) = delete;

  // A host function: any callable. Its parameters say what the script must pass (their
  // number is the arity the engine checks) and how the arguments convert; its result is
  // converted back (void gives null). A callable taking only const std::vector<Value>&
  // takes any number of arguments.
  template <class F>
  Engine &function(const std::string &name, F &&callable) {
    using D = std::decay_t<F>;
    using Parameters = typename detail::Signature<std::remove_pointer_t<D>>::Parameters;
    std::unique_ptr<detail::FunctionBase> function;
    int arity = static_cast<int>(std::tuple_size_v<Parameters>);
    if constexpr (detail::takesAllArguments<Parameters>) {
      function = std::make_unique<detail::VariadicFunction<D>>(std::forward<F>(callable), state());
      arity = -1;
    } else {
      function =
          std::make_unique<detail::HostFunction<D, Parameters>>(std::forward<F>(callable), state());
    }
    detail::check(velq_engine_add_function(state().engine, name.c_str(), arity,
                                           detail::callHostFunction, function.get()),
                  ("velq::Engine::function " + name).c_str());
    state().functions.push_back(std::move(function));
    return *this;
  }

  // A host class made from the C++ type T. Objects reach scripts when a host function
  // returns a T (the script gets its own copy, destroyed when the script drops it);
  // a parameter T& (or T*) receives the object itself.
  template <class T>
  ClassBuilder<T> type(const std::string &name) {
    static_assert(std::is_class_v<T> && !readable<T>, "velq: a host class must be a class type");
    auto c = std::make_unique<detail::Class<T>>();
    c->name = name;
    c->type = typeid(T);
    detail::Class<T> &registered = *c;
    detail::check(velq_engine_add_class(state().engine, name.c_str(), detail::Class<T>::get,
                                        detail::Class<T>::set, detail::Class<T>::destroy, c.get()),
                  ("velq::Engine::type " + name).c_str());
    state().classByName[name] = c.get();
    state().classByType[typeid(T)] = c.get();
    state().classes.push_back(std::move(c));
    return ClassBuilder<T>(state(), registered);
  }

  // A new object of a registered host class, holding a copy of value.
  template <class T>
  Value object(T value) {
    return state().makeObject<T>(std::move(value));
  }

  // The toolkit functions (ReadLine, Split, Format, ...).
  Engine &toolkit() {
    detail::check(velq_engine_add_toolkit(state().engine), "velq::Engine::toolkit");
    return *this;
  }
  // Whether "use NAME" may read NAME.velq files, and the directories searched.
  Engine &module_files(bool allowed) {
    detail::check(velq_engine_set_module_files(state().engine, allowed ? 1 : 0),
                  "velq::Engine::module_files");
    return *this;
  }
  Engine &module_directory(const std::string &directory) {
    detail::check(velq_engine_add_module_directory(state().engine, directory.c_str()),
                  "velq::Engine::module_directory");
    return *this;
  }
  // Where ReadLine reads and print writes (standard input and output when null).
  Engine &io(FILE *input, FILE *output) {
    detail::check(velq_engine_set_io(state().engine, input, output), "velq::Engine::io");
    return *this;
  }

  // Compiles a text; name is what errors call the source.
  Script compile(std::string_view text, const std::string &name = "script") {
    velq_script *script = nullptr;
    velq_error *error = nullptr;
    velq_status status =
        velq_compile(state().engine, text.data(), text.size(), name.c_str(), &script, &error);
    if (status != VELQ_OK) throw Error::fromC(status, error, name.c_str());
    return Script(state_, script);
  }
  Script compile_file(const std::string &path) {
    velq_script *script = nullptr;
    velq_error *error = nullptr;
    velq_status status = velq_compile_file(state().engine, path.c_str(), &script, &error);
    if (status != VELQ_OK) throw Error::fromC(status, error, path.c_str());
    return Script(state_, script);
  }

  velq_engine *handle() { return state().engine; }

 private:
  detail::EngineState &state() {
    if (!state_) throw Error("velq::Engine: used after a move", Error::Invalid);
    return *state_;
  }
  std::shared_ptr<detail::EngineState> state_;
};

}  // namespace velq

#endif
