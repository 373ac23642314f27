// The program's command line:
//   korvalinex.exe [/log FOLDER] [/alarm COMMAND [/alarm-taeglich HH:MM]]
//                  [/web IP:PORT [/web-token TOKEN]]
//                  [/sensor schutz|halten [/sensor-bereich V:V]
//                   [/sensor-werte FIGURES]]
//                  [/mqtt IP:PORT [/mqtt-name NAME] [/mqtt-login FILE]]
//                  [ADDRESS [PORT]].
// Given, the address and the port take the place of the build settings for
// this run; nothing of them is kept. Options come before the address, each
// a name beginning with a slash (in any case) and its value as the next
// argument; /log names the folder of the level log, /alarm the program or
// script run at every alarm event (control/alarms.h), /web the address of
// this PC and the port the read-only status page listens on
// (web/web_server.h), /web-token the token its requests must carry,
// /sensor turns the level sensor's check on (control/sensor_check.h) with
// the action while the sensor has failed, /sensor-bereich gives a
// live-zero sensor's span in volts and /sensor-werte changes the check's
// figures; /mqtt the broker the well is published to (mqtt/mqtt_client.h),
// /mqtt-name the client's name, /mqtt-login the file with its user name
// and password (read at start; a wrong one ends the program as a wrong
// option does).
#pragma once

#include <vector>

#include "base/state.h"
#include "platform/platform.h"

// The longest text a host name can be (253 characters, without a final dot).
enum { LongestBoardAddress = 253 };

// Splits a whole command line, program name first, into its parts as
// Windows programs do: blanks and tabs separate parts outside double quotes;
// a double quote starts or ends a quoted stretch and is not kept; two
// double quotes within a quoted stretch are one double quote; backslashes
// are kept as they are unless a double quote follows them: then each pair
// becomes one backslash, and an odd one left over makes the double quote a
// plain character. The program name ends at the first blank or tab outside
// double quotes and knows no backslash rule.
std::vector<Text> SplitCommandLine(const Text& line);

// The arguments of a whole command line as they stand, quoting untouched:
// all after the program name (as SplitCommandLine ends it) and the blanks
// and tabs that follow it.
Text ArgumentsAsGiven(const Text& line);

// Checks the arguments (the parts after the program name). True when they
// are good: `*address` and `*port` are then set from those given and left
// as they are otherwise. False when they are not: `*problem` is the text
// for the operator, naming the wrong argument and the right form.
bool ReadBoardArguments(const std::vector<Text>& arguments, Text* address,
                        int* port, Text* problem);

// The longest folder /log takes: room for a file name within the 260
// characters Windows allows a path.
enum { LongestLogFolder = 200 };

// The longest alarm command /alarm takes: a path Windows allows.
enum { LongestAlarmCommand = 259 };

// What the options set; empty where an option was not given.
struct ProgramOptions {
  Text LogFolder;
  Text AlarmCommand;
  // /alarm-taeglich HH:MM: the daily sign of life, as written and as its
  // minute of the day (-1: none).
  Text DailyTime;
  int DailyMinute = -1;
  // /web IP:PORT, as written and read (network byte order), and
  // /web-token.
  Text WebEndpoint;
  uint32_t WebBind = 0;
  int WebPort = 0;
  Text WebToken;
  // /sensor, /sensor-bereich and /sensor-werte as written, and the
  // settings they give (Sensor.On false: no check).
  Text SensorActionText;
  Text SensorSpanText;
  Text SensorFiguresText;
  SensorSettings Sensor = {false, SensorProtect, false,
                           0.0,   0.0,           DefaultSensorFigures()};
  // /mqtt IP:PORT as written and read (network byte order), /mqtt-name
  // (DefaultMqttName when /mqtt comes without it) and /mqtt-login.
  Text MqttEndpoint;
  uint32_t MqttHost = 0;
  int MqttPort = 0;
  Text MqttName;
  Text MqttLoginFile;
};

// The MQTT client's name without /mqtt-name, its longest, and the
// longest user name or password and login file.
constexpr const char* DefaultMqttName = "brunnen";
enum {
  LongestMqttName = 12,
  LongestMqttLogin = 256,
  LongestMqttLoginFile = 1024,
};

// Whether `name` may follow /mqtt-name: 1 to LongestMqttName characters
// A-Z a-z 0-9 _ - (it stands in topics and in the client's identifier).
bool MqttNameForm(const Text& name);

// The login file's text: the user name on the first line, the password on
// the second (line ends CR LF or LF, empty lines after them ignored), each
// at most LongestMqttLogin characters without control characters, the user
// name not empty. False for any other text.
bool ReadMqttLogin(const Text& bytes, Text* user, Text* password);

// The longest figures /sensor-werte takes.
enum { LongestSensorFigures = 200 };

// Reads a voltage as the operator writes it: decimal digits with one
// decimal comma or point ("0,88", "4.4", "5"), no sign, no blanks, at most
// 5 V. False for any other text.
bool ReadSensorVolts(const Text& text, double* volts);

// Reads /sensor-werte: NAME=VALUE pairs separated by ";" (a blank may
// stand beside it), each name once, the others left as `*figures` has
// them. Names and their units: oben (V), rand (%), stromlos (V), reaktion
// (counts), streuung (V), sprung (V), flach (counts), flach-stunden (h, 0:
// no flat-line check), ausfall (cycles), gut (cycles). False, with the
// text for the operator in `*problem`, for an unknown name, a value that
// is no number of its kind or lies outside its bounds; `*figures` is then
// unchanged.
bool ReadSensorFigures(const Text& text, SensorFigures* figures, Text* problem);

// The longest endpoint /web takes: 255.255.255.255:65535.
enum { LongestWebEndpoint = 21 };

// Reads "A.B.C.D:PORT" (a dotted IPv4 address, a port 1..65535 in decimal
// digits): the address in network byte order and the port. False for any
// other text.
bool ReadWebEndpoint(const Text& text, uint32_t* address, int* port);

// Takes the options from the front of the arguments into `*options` and
// leaves the rest (address and port) in `*rest`. False, with the text for
// the operator in `*problem`, when an option is wrong (a name without its
// value, one given twice, an empty or too long value) or stands after the
// address, when /alarm names a script whose path cmd.exe would take apart
// (with % or "), when /alarm-taeglich has no time of day HH:MM or comes
// without /alarm, when /web has no IPv4 address with a port, and when
// /web-token comes without /web or has characters a URL does not carry as
// they are, when /sensor is neither schutz nor halten, and when
// /sensor-bereich or /sensor-werte come without /sensor or have wrong
// values, and when /mqtt has no IPv4 address with a port, or /mqtt-name
// or /mqtt-login come without it, or the name has other characters;
// `*options` is then unchanged.
bool ReadOptions(const std::vector<Text>& arguments, ProgramOptions* options,
                 std::vector<Text>* rest, Text* problem);

// Takes the options, the board's address and its port from the program's
// command line into LogFolder, AlarmCommand, BoardAddress and BoardPort. False,
// with the text for the operator, when the command line is wrong; the fields
// are then unchanged.
bool TakeBoardArguments(Text* problem);
