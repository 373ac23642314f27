// korvalinex-sim: the board simulator as a program (see simulator.h and,
// for the control channel, control.cpp). Linux, and on Windows the console
// program korvalinex-sim.exe (Ctrl+C ends it there).
//
//   korvalinex-sim [--address 127.0.0.1] [--port 50290] [--control-port N]
//                  [--log FILE] [--level COUNTS] [--inflow C/S] [--draw C/S]
//                  [--analog N=COUNT]... [--digital N=0|1]...
//                  [--ip A] [--mask A] [--gw A] [--help-text BYTES]
//                  [--line-gap MS[,KEY]] [--random SETTINGS]
//                  [--port-file FILE] [--quiet]
//
// It shows the board live on stdout (a few lines redrawn in place on a
// terminal; otherwise a line whenever something other than the level
// changes, and every 10 s). Ends on SIGINT / SIGTERM or the control
// command "shutdown".
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "simulator/sim_system.h"
#include "simulator/simulator.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

// `text` with every line indented by `by` blanks.
std::string Indented(const std::string& text, size_t by) {
  std::string out(by, ' ');
  for (char c : text) {
    out += c;
    if (c == '\n') out.append(by, ' ');
  }
  return out;
}

void Usage() {
  printf(
      "usage: korvalinex-sim [options]\n"
      "  --address A        listen address, loopback only (127.0.0.1)\n"
      "  --port N           board port (50290; 0 = any free port)\n"
      "  --control-port N   control channel port (off unless given; 0 = any)\n"
      "  --port-file FILE   write \"PORT CONTROLPORT\" there once listening\n"
      "  --log FILE         one line per parsed command: <ms> <kind> <bytes>\n"
      "                     (bytes: printable ASCII as is, backslash and\n"
      "                     others as \\xNN, a last blank as \\x20)\n"
      "  --level C          start level of the well, counts 0..1023 (100)\n"
      "  --inflow R         inflow, counts/s (0.5)\n"
      "  --draw R           pump draw while output 4 is off, counts/s (1.5)\n"
      "  --analog N=C       analog input N (2..4) count\n"
      "  --digital N=V      digital input N (1..4), 1 = open (default 1)\n"
      "  --ip/--mask/--gw A board settings reported by GETIP/GETMASK/GETGW\n"
      "  --help-text BYTES  reply of HELP (escapes \\xNN \\r \\n ...)\n"
      "  --line-gap MS[,KEY] write every reply of more than one line (HELP,\n"
      "                     VERSION) one line at a time, MS apart; with KEY\n"
      "                     only the replies to it, e.g. --line-gap 5,VERSION\n"
      "  --random SETTINGS  draw each reply at random from a seed (one\n"
      "                     argument; the control command \"random\" takes\n"
      "                     the same):\n"
      "%s\n"
      "                     whole: every reply whole; lines: replies of\n"
      "                     several lines line by line, 0..50 ms apart;\n"
      "                     faults: some replies late (0..300 ms), in pieces\n"
      "                     (0..500 ms apart), line by line, HELP/VERSION\n"
      "                     over 200 bytes, garbage instead of a reply, a\n"
      "                     line too many after one (0..500 ms later)\n"
      "                     e.g. --random \"faults seed=7 garbage=5\"\n"
      "  --quiet            no live display\n"
      "The pump draws while output 4 (Minimum) is off. Demos (the program\n"
      "measures every cycle period, 360 s by default):\n"
      "  Minimum: --level 60 --inflow 0.3 --draw 1.5  (below 43 in ~15 s)\n"
      "  Maximum: --level 200 --inflow 1.5 --draw 0.5 (above 242 in ~45 s)\n",
      Indented(kvxsim::kRandomRepliesHelp, 21).c_str());
}

bool ParsePair(const char* s, int* n, int* v) {
  return sscanf(s, "%d=%d", n, v) == 2;
}

std::string Line(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Line(const char* fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

// The lines of the live display (UTF-8).
std::vector<std::string> Describe(const kvxsim::BoardSnapshot& s,
                                  const std::string& where) {
  std::vector<std::string> out;
  out.push_back(Line("KORVALINEX sim %s | client %s (#%llu) | commands %llu",
                     where.c_str(), s.connected ? "connected" : "waiting",
                     static_cast<unsigned long long>(s.connections),
                     static_cast<unsigned long long>(s.commands)));
  out.push_back("last: " + kvxsim::Cp1252ToUtf8(s.lastCommand.substr(0, 60)));
  std::string o;
  for (int i = 1; i <= 8; ++i)
    o += std::string(i > 1 ? " " : "") + (s.outputs[i] ? "1" : "0");
  out.push_back(
      Line("outputs 1-8: %s | sensor %s | Min %s: pump %s | Max %s", o.c_str(),
           s.outputs[3] ? "ON" : "off", s.outputs[4] ? "ON" : "off",
           s.outputs[4] ? "stopped" : "draws", s.outputs[5] ? "ON" : "off"));
  out.push_back(
      Line("well %.2f = %.3f V | in %g/s draw %g/s | ADC %d %d %d %d"
           " | DIN %d%d%d%d",
           s.level, s.level * 0.0048828, s.inflow, s.draw, s.analog[1],
           s.analog[2], s.analog[3], s.analog[4], s.digital[1], s.digital[2],
           s.digital[3], s.digital[4]));
  out.push_back("LCD |" + kvxsim::Cp1252ToUtf8(s.lcd[1]) + "|");
  out.push_back("    |" + kvxsim::Cp1252ToUtf8(s.lcd[2]) + "|");
  return out;
}

// Cuts a UTF-8 line to `columns` code points.
std::string Fit(const std::string& line, int columns) {
  int seen = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    if ((static_cast<unsigned char>(line[i]) & 0xC0) == 0x80) continue;
    if (seen++ == columns) return line.substr(0, i);
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  std::string address = "127.0.0.1", logPath, portFile, ip, mask, gw;
  std::string helpText;
  bool haveHelp = false, quiet = false;
  long port = 50290, controlPort = -1;
  double level = 100, inflow = 0.5, draw = 1.5;
  kvxsim::Simulator sim;

  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        fprintf(stderr, "korvalinex-sim: %s needs a value\n", name);
        exit(2);
      }
      return argv[++i];
    };
    auto number = [&](const char* name) -> double {
      const char* v = value(name);
      char* end = nullptr;
      double d = strtod(v, &end);
      if (!*v || *end || !std::isfinite(d)) {
        fprintf(stderr, "korvalinex-sim: bad value for %s: %s\n", name, v);
        exit(2);
      }
      return d;
    };
    int n = 0, v = 0;
    if (a == "--help" || a == "-h") {
      Usage();
      return 0;
    } else if (a == "--address") {
      address = value("--address");
    } else if (a == "--port") {
      port = static_cast<long>(number("--port"));
    } else if (a == "--control-port") {
      controlPort = static_cast<long>(number("--control-port"));
    } else if (a == "--log") {
      logPath = value("--log");
    } else if (a == "--port-file") {
      portFile = value("--port-file");
    } else if (a == "--level") {
      level = number("--level");
    } else if (a == "--inflow") {
      inflow = number("--inflow");
    } else if (a == "--draw") {
      draw = number("--draw");
    } else if (a == "--analog" && ParsePair(value("--analog"), &n, &v)) {
      sim.SetAnalog(n, v);
    } else if (a == "--digital" && ParsePair(value("--digital"), &n, &v)) {
      sim.SetDigital(n, v);
    } else if (a == "--ip") {
      ip = value("--ip");
    } else if (a == "--mask") {
      mask = value("--mask");
    } else if (a == "--gw") {
      gw = value("--gw");
    } else if (a == "--help-text") {
      if (!kvxsim::UnescapeBytes(value("--help-text"), &helpText)) {
        fprintf(stderr, "korvalinex-sim: bad escape in --help-text\n");
        return 2;
      }
      haveHelp = true;
    } else if (a == "--line-gap") {
      const std::string v = value("--line-gap");
      const size_t comma = v.find(',');
      char* end = nullptr;
      const long ms = strtol(v.c_str(), &end, 10);
      if (v.empty() || end != v.c_str() + v.substr(0, comma).size() ||
          comma == 0 || ms < 0 || ms > 60000) {
        fprintf(stderr, "korvalinex-sim: bad value for --line-gap: %s\n",
                v.c_str());
        return 2;
      }
      sim.SetLineGap(static_cast<int>(ms), comma == std::string::npos
                                               ? std::string()
                                               : v.substr(comma + 1));
    } else if (a == "--random") {
      kvxsim::RandomReplies r;
      std::string error;
      if (!kvxsim::ParseRandomReplies(value("--random"), &r, &error)) {
        fprintf(stderr, "korvalinex-sim: --random: %s\n", error.c_str());
        return 2;
      }
      sim.SetRandomReplies(r);
    } else if (a == "--quiet" || a == "-q") {
      quiet = true;
    } else {
      fprintf(stderr, "korvalinex-sim: unknown or malformed option %s\n",
              a.c_str());
      Usage();
      return 2;
    }
  }
  if (port < 0 || port > 65535 || controlPort > 65535) {
    fprintf(stderr, "korvalinex-sim: bad port\n");
    return 2;
  }
  if (!kvxsim::IsLoopbackAddress(address)) {
    fprintf(stderr,
            "korvalinex-sim: refusing to listen on %s: loopback only "
            "(127.0.0.0/8)\n",
            address.c_str());
    return 2;
  }

  sim.SetLevel(level);
  sim.SetRates(inflow, draw);
  sim.SetNetwork(ip, mask, gw);
  if (haveHelp) sim.SetHelpText(helpText);
  if (!logPath.empty() && !sim.SetLogFile(logPath)) {
    fprintf(stderr, "korvalinex-sim: %s\n", sim.LastError().c_str());
    return 1;
  }
  if (!sim.Start(static_cast<uint16_t>(port), address)) {
    fprintf(stderr, "korvalinex-sim: %s\n", sim.LastError().c_str());
    return 1;
  }
  if (controlPort >= 0 &&
      !sim.StartControl(static_cast<uint16_t>(controlPort), address)) {
    fprintf(stderr, "korvalinex-sim: control channel: %s\n",
            sim.LastError().c_str());
    sim.Stop();
    return 1;
  }
  if (!portFile.empty()) {
    const std::string tmp = portFile + ".tmp";
    FILE* f = fopen(tmp.c_str(), "w");
    if (f) {
      fprintf(f, "%u %u\n", sim.Port(), sim.ControlPort());
      fclose(f);
      if (rename(tmp.c_str(), portFile.c_str()) != 0) {
        remove(portFile.c_str());  // Windows does not replace a file
        rename(tmp.c_str(), portFile.c_str());
      }
    }
  }

  kvxsim::SysOnStopRequest(OnSignal);

  const std::string where =
      address + ":" + std::to_string(sim.Port()) +
      (controlPort >= 0 ? " ctl " + std::to_string(sim.ControlPort()) : "");
  if (!quiet) {
    printf("korvalinex-sim listening on %s:%u", address.c_str(), sim.Port());
    if (controlPort >= 0)
      printf(", control channel on port %u", sim.ControlPort());
    printf("\n");
    fflush(stdout);
  }
  const bool tty = kvxsim::SysConsoleIsTerminal();
  size_t drawn = 0;
  std::string lastKey;
  auto lastPrint = std::chrono::steady_clock::now() - std::chrono::hours(1);
  while (!g_stop && !sim.ShutdownRequested()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(tty ? 200 : 100));
    if (quiet) continue;
    kvxsim::BoardSnapshot s = sim.Snapshot();
    std::vector<std::string> lines = Describe(s, where);
    if (tty) {
      std::string out;
      if (drawn) out += "\x1b[" + std::to_string(drawn) + "A";
      const int cols = kvxsim::SysConsoleColumns();
      for (const std::string& l : lines)
        out += "\r\x1b[2K" + Fit(l, cols) + "\n";
      fputs(out.c_str(), stdout);
      fflush(stdout);
      drawn = lines.size();
      continue;
    }
    // Not a terminal: one line when something besides the level changed,
    // and every 10 s.
    std::string key = lines[2] + lines[4] + lines[5] +
                      (s.connected ? "c" : "w") +
                      std::to_string(s.connections) +
                      std::to_string(s.digital[1] + 2 * s.digital[2] +
                                     4 * s.digital[3] + 8 * s.digital[4]);
    const auto now = std::chrono::steady_clock::now();
    if (key != lastKey || now - lastPrint > std::chrono::seconds(10)) {
      std::string all;
      for (size_t i = 0; i < lines.size(); ++i)
        all += (i ? " || " : "") + lines[i];
      printf("%s\n", all.c_str());
      fflush(stdout);
      lastKey = key;
      lastPrint = now;
    }
  }
  sim.Stop();
  if (!quiet) printf("korvalinex-sim stopped\n");
  return 0;
}
