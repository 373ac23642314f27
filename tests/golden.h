// Golden files: what the headless windows show and what went over the wire,
// written out as plain ASCII text and compared with the files checked in
// under tests/golden/.
//
// On a mismatch the test fails with a unified difference (checked-in file
// first, the program's text second) and writes the new text to
// <build dir>/golden-new/<name>, where a reviewer can look at it whole.
// To take a change on purpose, run the tests with KVX_GOLDEN_UPDATE=1: the
// files under tests/golden/ are rewritten (and the test passes); review
// them with git diff before committing.
#pragma once

#include <string>
#include <vector>

#include "platform/headless/headless.h"

// A text quoted as ASCII: printable bytes as they are, a backslash and a
// double quote behind a backslash, CR, LF and tab as \r, \n, \t, every
// other byte (Windows-1252 letters among them) as \xNN.
std::string AsciiQuoted(const std::string& bytes);

// The state of one control on one line: creation index, number, kind,
// rectangle, text, properties, font, colours, range and value, enabled and
// checked, tooltip. The lines of a rich-text box's text follow on lines of
// their own, each behind `indent` and "| ".
std::string ControlLine(const HeadlessControl& c,
                        const std::string& indent = "    ");

// The head of one window: number, title, frame, sizes, position, timer,
// system menu.
std::string WindowHead(const HeadlessWindow& w);

// One window whole: its head, then its controls in creation order; with
// `drawing`, the steps of the drawing it shows as well. Empty when the
// window is not open.
std::string DumpWindow(int window, bool drawing = false);

// Every open window, the lowest number first.
std::string DumpOpenWindows(bool drawing = false);

// The lines of `text`, each without its line end.
std::vector<std::string> Lines(const std::string& text);

// A unified difference between two texts, with `context` lines around
// each change; empty when they are equal.
std::string UnifiedDiff(const std::string& expected, const std::string& actual,
                        const std::string& expectedName,
                        const std::string& actualName, int context = 3);

// The board's port where a text names it ("Port 50291", as the start's
// event does) as "Port BOARD-PORT": the tests' board has a port of its own
// each run.
std::string WithoutBoardPort(const std::string& text, int port);

// Compares `actual` with tests/golden/<name> (see the head of this file).
void ExpectGolden(const std::string& name, const std::string& actual);
