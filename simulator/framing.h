// How the simulator reads what the program sends: the received bytes split
// into commands (see simulator.h for the three ends and the display block),
// and the words of a command.
#pragma once

#include <cstddef>
#include <string>

#include "simulator/simulator.h"

namespace kvxsim {

const size_t kBlockLen = 100;   // a display block
const size_t kOverlong = 1024;  // bytes without an end

enum class Framed { NeedMore, Command, EmptyLine };
// Takes the first command off `*pending` into cmd->kind, raw and text.
// NeedMore leaves `*pending` as it is; EmptyLine consumed a line end alone.
Framed TakeCommand(std::string* pending, CommandRecord* cmd);

// The keyword (the leading ASCII letters after blanks, upper case) and the
// arguments after it and its blanks.
void SplitKeyword(const std::string& text, std::string* keyword,
                  std::string* args);

bool IsBlank(char c);  // blank or tab
std::string Upper(std::string s);
std::string Trim(const std::string& s);  // blanks and tabs at both ends
// A reply override's key as compared: upper case, blanks removed.
std::string NormalKey(const std::string& key);

}  // namespace kvxsim
