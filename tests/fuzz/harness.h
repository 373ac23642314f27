// The end of one run of a harness over the scripted board: the connection
// closed, everything released, the script off and the state zeroed, so the
// next run starts as the program does.
#pragma once

#include <string>
#include <vector>

#include "app/startup.h"
#include "app/state.h"
#include "board/connection.h"
#include "platform/headless/headless.h"

// True when every reply buffer had been released.
inline bool EndScriptedRun() {
  CloseConnection();
  ReleaseFacilities();
  HeadlessSetReceiveScript(nullptr);
  bool released = HeadlessLiveMemoryBlocks() == 0;
  ZeroAppState();
  HeadlessReset();
  return released;
}

// The scripted connection as the board link sees it. A receive takes pieces in
// turn (a piece longer than the room left is cut, the rest stays for the
// next receive). A one-line reply (`settle` 0) ends at its first line
// feed, and what came behind it in the same piece is thrown away; one that
// may span lines ends once `settle` ms have passed after a line feed
// without a byte. Bytes beyond `max` are thrown away until the reply ends
// (a line feed for a one-line reply, or SettleTime of silence). A moment of
// silence (an empty piece, or the gap after a piece taken whole) lasts one
// wait: a slice, or what is left of the settle time. Silence for the reply
// bound, more than DiscardLimit bytes thrown, or the end of the pieces,
// loses the connection, and nothing is received after that. What is left
// of a piece when a query starts is thrown away.
struct ScriptModel {
  const std::vector<std::string>* Pieces;
  size_t Next = 0, Taken = 0;
  bool Apart = false;
  bool Lost = false;

  void StartQuery() {
    if (Lost || Taken == 0) return;
    Next++;
    Taken = 0;
    Apart = true;
  }

  bool Receive(size_t max, int settle, std::string* got) {
    if (Lost) return false;
    got->clear();
    size_t thrown = 0;
    int silent = 0, drained = 0;
    bool atLineEnd = false;
    const int settleMs = settle > 0 ? settle : SettleTime;
    for (;;) {
      bool full = got->size() >= max;
      int wait = ServeSlice;
      if ((atLineEnd || full) && settleMs - silent < wait)
        wait = settleMs - silent;
      if (Next >= Pieces->size()) {
        Lost = true;
        return false;
      }
      const std::string& piece = (*Pieces)[Next];
      if (Apart || piece.empty()) {
        if (Apart)
          Apart = false;
        else
          Next++;
        silent += wait;
        if (full) drained += wait;
        if ((atLineEnd || full) && silent >= settleMs) break;
        if (silent >= ReplyStartLimit || drained >= ReplyStartLimit) {
          Lost = true;
          return false;
        }
        continue;
      }
      std::string part = piece.substr(Taken, full ? 512 : max - got->size());
      Taken += part.size();
      if (Taken == piece.size()) {
        Next++;
        Taken = 0;
        Apart = true;
      }
      silent = 0;
      atLineEnd = part.back() == '\n';
      if (full) thrown += part.size();
      if (settle == 0) {
        size_t feed = part.find('\n');
        if (feed != std::string::npos) {
          if (!full) *got += part.substr(0, feed + 1);
          break;
        }
      }
      if (!full) *got += part;
      if (thrown > (size_t)DiscardLimit) break;
    }
    if (thrown > (size_t)DiscardLimit) {
      Lost = true;
      return false;
    }
    return true;
  }
};
