#include "mqtt/mqtt_discovery.h"

#include <string>

#include "base/utf8_text.h"
#include "mqtt/mqtt_json.h"

#ifndef KORVALINEX_VERSION
#define KORVALINEX_VERSION "1.0.0"
#endif

namespace {

// What every config of the well has in common.
struct Common {
  Text Base;     // korvalinex/NAME
  Text Node;     // korvalinex_NAME
  Text Device;   // the device's identifier
  Text Both;     // availability from the program and the board's link
  Text Program;  // availability from the program alone
  Text DeviceJson;
};

Common CommonOf(const MqttSettings& settings, const MqttSnapshot& s) {
  Common c;
  c.Base = MqttBaseTopic(settings);
  c.Node = "korvalinex_" + settings.Name;
  c.Device = MqttDeviceIdentifier(s);
  Text status = "{\"topic\":" + JsonString(MqttStatusTopic(settings)) + "}";
  Text board = "{\"topic\":" + JsonString(MqttBoardTopic(settings)) + "}";
  c.Both = "\"availability\":[" + status + "," + board +
           "],\"availability_mode\":\"all\"";
  c.Program = "\"availability\":[" + status + "]";
  c.DeviceJson = "\"device\":{\"identifiers\":[" + JsonString(c.Device) +
                 "],\"name\":" + JsonString("Brunnen " + settings.Name) +
                 ",\"model\":\"KORVALINEX Brunnenwächter\"" +
                 ",\"sw_version\":" + JsonString(KORVALINEX_VERSION);
  if (!s.PageUrl.empty())
    c.DeviceJson += ",\"configuration_url\":" + JsonString(s.PageUrl);
  c.DeviceJson += "}";
  return c;
}

// One config: `component` and `thing` name its topic; `fields` are its
// own keys, written as JSON already (each with a leading comma).
MqttMessage Config(const Common& c, const char* component, const Text& thing,
                   const Text& name, const Text& stateTopic,
                   const Text& availability, const Text& fields) {
  Text json = "{\"name\":" + JsonString(name) +
              ",\"unique_id\":" + JsonString(c.Device + "_" + thing) +
              ",\"state_topic\":" + JsonString(c.Base + "/" + stateTopic) +
              "," + availability + fields + "," + c.DeviceJson + "}";
  return {"homeassistant/" + Text(component) + "/" + c.Node + "/" + thing +
              "/config",
          Utf8FromWindows1252(json), true, false};
}

const char BinaryOnOff[] = ",\"payload_on\":\"ON\",\"payload_off\":\"OFF\"";
const char Diagnostic[] = ",\"entity_category\":\"diagnostic\"";

Text Trimmed(const Text& text) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') end--;
  return text.substr(0, end);
}

}  // namespace

int MqttLevelExpiry(int cyclePeriodSeconds) {
  if (cyclePeriodSeconds < 0) cyclePeriodSeconds = 0;
  return 2 * cyclePeriodSeconds + 60;
}

std::vector<MqttMessage> MqttDiscoveryMessages(const MqttSettings& settings,
                                               const MqttSnapshot& s) {
  Common c = CommonOf(settings, s);
  std::vector<MqttMessage> m;
  m.push_back(Config(
      c, "sensor", "level", "Pegel", "level", c.Both,
      ",\"device_class\":\"voltage\",\"unit_of_measurement\":\"V\""
      ",\"state_class\":\"measurement\",\"suggested_display_precision\":2"
      ",\"expire_after\":" +
          std::to_string(MqttLevelExpiry(s.CyclePeriod))));
  for (int n = 1; n <= 8; n++) {
    Text caption = Trimmed(s.OutputName[n]);
    Text name = n == 4 ? Text("Trockenlaufschutz (Ausgang 4)")
                : caption.empty()
                    ? "Ausgang " + std::to_string(n)
                    : "Ausgang " + std::to_string(n) + " (" + caption + ")";
    Text fields = BinaryOnOff;
    if (n == 4) fields += ",\"device_class\":\"problem\"";
    m.push_back(Config(c, "binary_sensor", "output_" + std::to_string(n), name,
                       "output/" + std::to_string(n), c.Both, fields));
  }
  m.push_back(Config(c, "binary_sensor", "board", "Verbindung zum Board",
                     "board", c.Program,
                     ",\"payload_on\":\"online\",\"payload_off\":\"offline\""
                     ",\"device_class\":\"connectivity\"" +
                         Text(Diagnostic)));
  m.push_back(Config(c, "binary_sensor", "trusted",
                     "Messwerte vertrauenswürdig", "trusted", c.Both,
                     Text(BinaryOnOff) + Diagnostic));
  m.push_back(Config(c, "binary_sensor", "guard_blind", "Wächter blind",
                     "guard_blind", c.Both,
                     Text(BinaryOnOff) + ",\"device_class\":\"problem\""));
  if (s.SensorOn)
    m.push_back(Config(c, "sensor", "sensor", "Pegelsensor", "sensor", c.Both,
                       ",\"device_class\":\"enum\",\"options\":[\"gut\","
                       "\"verdächtig\",\"ausgefallen\"]" +
                           Text(Diagnostic)));
  m.push_back(Config(c, "sensor", "last_evaluation", "Letzte Auswertung",
                     "last_evaluation", c.Both,
                     ",\"device_class\":\"timestamp\"" + Text(Diagnostic)));
  return m;
}
