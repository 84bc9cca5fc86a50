// A small host program: it gives scripts a function and a class of its own, sets a
// global variable and a constant, runs a script with two arguments, and prints the
// script's result and the globals as the run left them.
#include <stdio.h>
#include <string.h>

#include <string>

#include "velq.h"

// The data of one SENSOR object. The host allocates it; the class frees it.
struct Sensor {
  std::string name;
  int32_t reading;
};

static int liveSensors = 0;

// The class of SENSOR objects: "name" can be read, "reading" read and written.
class SensorClass : public VELQ_Class {
 public:
  SensorClass() { strcpy(name, "SENSOR"); }

  // Returns a new value the engine takes over, or null for an unknown attribute
  // (the run then stops with error 15).
  VELQ_Value *getAttr(VELQ_Object *object, const char *attr) override {
    Sensor *sensor = static_cast<Sensor *>(object->getData());
    if (strcmp(attr, "name") == 0) return new VELQ_Value(sensor->name.c_str());
    if (strcmp(attr, "reading") == 0) return new VELQ_Value(sensor->reading);
    return nullptr;
  }

  // Reads the value without keeping it; nonzero when the attribute was set.
  int setAttr(VELQ_Object *object, const char *attr, VELQ_Value *value) override {
    Sensor *sensor = static_cast<Sensor *>(object->getData());
    if (strcmp(attr, "reading") != 0 || !value->isInteger()) return 0;
    sensor->reading = value->getValueAsInt32();
    return 1;
  }

  // Called once, when the last value that refers to this sensor's data is gone.
  void onObjectDelete(VELQ_Object *object) override {
    delete static_cast<Sensor *>(object->getData());
    --liveSensors;
  }
};

static SensorClass sensorClass;

// sensor(name): a new SENSOR object. Arguments belong to the engine; the result is
// a new value that the handler hands over. Any return other than 0 or -1 is a
// run-time error code.
static int32_t sensorFunction(int32_t argc, VELQ_Value **argv, VELQ_Value **result,
                              VELQ_Program *program) {
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  Sensor *sensor = new Sensor{argv[0]->getValueAsCString(), 21};
  ++liveSensors;
  *result = new VELQ_Value(new VELQ_Object(&sensorClass, sensor));
  return 0;
}

static const VELQ_ExtFunction hostFunctions[] = {
    {"sensor", sensorFunction, 1},  // exactly one argument; the engine checks the count
};

static const char *const script = R"(
sub main(label, factor) {
  s = sensor("boiler");
  old = s->reading;
  s->reading = old * factor;
  if (s->reading > limit) alerts = alerts + 1;
  println label . ": " . s->name . " " . old . " x " . factor . " = " . s->reading . UNIT;
  return s->reading;
}
)";

int main() {
  char error[VELQ_COMPILE_ERROR_SIZE];
  VELQ_Program *program = VELQCompile(script, error, sizeof error);
  if (!program) {
    fprintf(stderr, "%s\n", error);  // "Error in line N: ..."
    return 2;
  }

  // Globals live in the program; each run starts from them again.
  program->setGlobalVariable("limit", new VELQ_Value(int32_t(50)));
  program->setGlobalVariable("alerts", new VELQ_Value(int32_t(0)));

  // Constants are merged into the program's for one run; the system stays ours.
  VELQ_VariableSystem constants(true);
  constants.create("UNIT", new VELQ_Value(" C"));

  // One environment per run: the program destroys it when the run ends.
  VELQ_Environment *environment = new VELQ_Environment();
  environment->registerFunctionSet(1, hostFunctions);
  environment->setIO(stdin, stdout);

  // Arguments become $1, $2, ...; text that reads as a number is that number.
  VELQ_Value *argv[] = {new VELQ_Value("morning"), new VELQ_Value("3")};

  VELQ_VariableSystem *globalsOut = nullptr;
  int status = program->run(environment, 2, argv, nullptr, &globalsOut, &constants);
  if (status != 0) {
    fprintf(stderr, "%s\n", program->getErrorText());  // "Error N in line M: ..."
  } else {
    VELQ_Value *result = program->getResult();  // still the program's
    printf("result: %s (%s)\n", result->getValueAsCString(), VELQ_TypeName(result->getDataType()));
  }

  // The globals as the script left them are ours now; the program kept its own.
  VELQ_Variable *alerts = globalsOut->find("alerts");
  printf("alerts after the run: %d\n", alerts->getValue()->getValueAsInt32());
  printf("alerts kept by the program: %d\n",
         program->findGlobalVariable("alerts")->getValue()->getValueAsInt32());
  printf("sensors still alive: %d\n", liveSensors);

  delete globalsOut;
  delete program;
  return status == 0 ? 0 : 1;
}
