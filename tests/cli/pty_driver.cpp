// Drives a program through a pseudo-terminal, as a person at a terminal would, so that
// the REPL can be tested with its terminal behaviour: prompts, line editing, Ctrl-C and
// Ctrl-D.
//
//   velq_pty_driver STEPS_FILE COMMAND [ARG]...
//
// Each line of STEPS_FILE is one step; \n, \t, \\ and \xHH in TEXT stand for those bytes
// (\x03 is Ctrl-C, \x04 Ctrl-D):
//   send TEXT     writes TEXT to the terminal
//   expect TEXT   waits until the program's output after the previous match holds TEXT
//   status N      waits for the program to end and checks its exit status
// Empty lines and lines starting with '#' are skipped. Every wait ends after
// STEP_TIME_LIMIT seconds, so that a test fails rather than hangs. On a failure the
// driver names the step and shows the output it has seen, and exits with 1.
#include <errno.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

const int STEP_TIME_LIMIT = 10;  // seconds any one step may wait

std::string output;      // everything the program wrote
size_t matchedUpTo = 0;  // where the next expect starts looking
pid_t child = -1;
int terminal = -1;

// TEXT with its escapes turned into bytes.
std::string unescape(const std::string &text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      bytes += text[i];
      continue;
    }
    char c = text[++i];
    if (c == 'n') {
      bytes += '\n';
    } else if (c == 't') {
      bytes += '\t';
    } else if (c == 'x' && i + 2 < text.size()) {
      bytes += (char)strtol(text.substr(i + 1, 2).c_str(), nullptr, 16);
      i += 2;
    } else {
      bytes += c;
    }
  }
  return bytes;
}

// Shows text with control bytes escaped.
std::string shown(const std::string &text) {
  std::string out;
  for (unsigned char c : text) {
    char buffer[8];
    if (c == '\n') {
      out += "\\n\n    ";
    } else if (c < 0x20 || c == 0x7f) {
      snprintf(buffer, sizeof buffer, "\\x%02x", c);
      out += buffer;
    } else {
      out += (char)c;
    }
  }
  return out;
}

[[noreturn]] void fail(int stepLine, const std::string &what) {
  fprintf(stderr, "step at line %d: %s\n  output so far:\n    %s\n", stepLine, what.c_str(),
          shown(output).c_str());
  if (child > 0) kill(child, SIGKILL);
  exit(1);
}

double now() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

// Reads what the program wrote within timeout seconds; false once the terminal is closed.
bool readSome(double timeout) {
  struct pollfd wait = {terminal, POLLIN, 0};
  int ready = poll(&wait, 1, (int)(timeout * 1000));
  if (ready <= 0) return true;
  char buffer[4096];
  ssize_t got = read(terminal, buffer, sizeof buffer);
  if (got < 0 && errno == EINTR) return true;
  if (got <= 0) return false;  // EIO: the program and its terminal are gone
  output.append(buffer, (size_t)got);
  return true;
}

void expect(int stepLine, const std::string &text) {
  double deadline = now() + STEP_TIME_LIMIT;
  for (;;) {
    size_t found = output.find(text, matchedUpTo);
    if (found != std::string::npos) {
      matchedUpTo = found + text.size();
      return;
    }
    double left = deadline - now();
    if (left <= 0) fail(stepLine, "no '" + shown(text) + "' within the time limit");
    if (!readSome(left)) {
      if (output.find(text, matchedUpTo) != std::string::npos) continue;
      fail(stepLine, "the program ended without writing '" + shown(text) + "'");
    }
  }
}

void expectStatus(int stepLine, int wanted) {
  double deadline = now() + STEP_TIME_LIMIT;
  int status = 0;
  for (;;) {
    pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (now() > deadline) fail(stepLine, "the program did not end within the time limit");
    readSome(0.05);
  }
  child = -1;
  if (!WIFEXITED(status))
    fail(stepLine, "the program ended by signal " + std::to_string(WTERMSIG(status)));
  if (WEXITSTATUS(status) != wanted)
    fail(stepLine, "exit status " + std::to_string(WEXITSTATUS(status)) + ", wanted " +
                       std::to_string(wanted));
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s STEPS_FILE COMMAND [ARG]...\n", argv[0]);
    return 2;
  }
  std::ifstream steps(argv[1]);
  if (!steps) {
    fprintf(stderr, "%s: cannot read\n", argv[1]);
    return 2;
  }
  struct winsize size = {24, 80, 0, 0};
  child = forkpty(&terminal, nullptr, nullptr, &size);
  if (child < 0) {
    perror("forkpty");
    return 2;
  }
  if (child == 0) {
    setenv("TERM", "dumb", 1);
    execvp(argv[2], argv + 2);
    perror(argv[2]);
    _exit(127);
  }

  std::string line;
  int stepLine = 0;
  bool waited = false;
  while (std::getline(steps, line)) {
    stepLine++;
    if (line.empty() || line[0] == '#') continue;
    size_t space = line.find(' ');
    std::string verb = line.substr(0, space);
    std::string text = space == std::string::npos ? "" : unescape(line.substr(space + 1));
    if (verb == "send") {
      if (write(terminal, text.data(), text.size()) != (ssize_t)text.size())
        fail(stepLine, "cannot write to the terminal");
    } else if (verb == "expect") {
      expect(stepLine, text);
    } else if (verb == "status") {
      expectStatus(stepLine, atoi(text.c_str()));
      waited = true;
    } else {
      fail(stepLine, "unknown step '" + verb + "'");
    }
  }
  if (!waited) fail(stepLine, "the steps end without a status step");
  return 0;
}
