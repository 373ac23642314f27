#include "tests/support/board_query.h"

const std::vector<std::string> QueryCommands = {
    "Help",      "Version",   "Getip",     "Getgw",    "Getmask",
    "Getstatus", "GETADC 1",  "GETADC 2",  "GETADC 3", "GETADC 4",
    "GETPORT 1", "GETPORT 2", "GETPORT 3", "GETPORT 4"};

std::vector<std::string> QueryCommandsWithDisplay(const std::string& dateTime) {
  std::vector<std::string> all = QueryCommands;
  all.insert(all.begin() + 5, {"initlcd", "writelcd 1.** KORVALINEX **",
                               "writelcd 2." + dateTime});
  return all;
}
