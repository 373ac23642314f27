// What the harnesses over the scripted board share: the end of one run,
// the commands of a board query as they go out, and a plain model of the
// scripted connection as the board link reads it, to hold the program's
// own reading against.
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/startup.h"
#include "base/state.h"
#include "board/link.h"
#include "board/reply_driver.h"
#include "board/reply_forms.h"
#include "platform/headless/headless.h"
#include "tests/support/board_query.h"

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

inline std::string CutAtZero(const std::string& bytes) {
  return bytes.substr(0, bytes.find('\0'));
}

// The commands of one board query on the wire, in order, when every
// exchange runs. A display line goes out as the 100 bytes of the command
// buffer with its text and a zero byte written over the start;
// `commandBuffer` is what the buffer holds before the query.
inline std::vector<std::string> WireCommands(bool lcd,
                                             std::string commandBuffer) {
  std::vector<std::string> all =
      lcd ? QueryCommandsWithDisplay("06.12.2026/07:45") : QueryCommands;
  for (std::string& c : all) {
    if (c.compare(0, 9, "writelcd ") == 0) {
      commandBuffer.replace(0, c.size() + 1, c + '\0');
      c = commandBuffer;
    } else {
      c += " \\r\\n";
    }
  }
  return all;
}

// One reply as the model reads it.
struct ModelReply {
  std::string Bytes;          // its bytes, ReplyKeepLimit at most
  size_t Total = 0;           // every byte of it
  int First = -1, Last = -1;  // ms after the command of its first and last
  bool Matched = false;       // came as learned, and was whole at once
  bool Changed = false;       // a learned reply that came different
  bool Cut = false;           // more of it may still come
  bool Extra = false;         // a line behind a one-line reply's line feed
  size_t Kept(size_t max) const { return std::min(Total, max); }
};

// One exchange of the board query as the model runs it.
struct ModelExchange {
  const char* Command;
  size_t Max;                   // the most bytes its receive keeps
  bool Lines;                   // a reply of lines (else of one line)
  int Slot;                     // where a reply of lines is learned
  bool (*InForm)(const Text&);  // null: any reply is its command's
  bool Counts;                  // a reply it misses spoils the query's proof
};

inline std::vector<ModelExchange> ModelQuery(bool lcd) {
  std::vector<ModelExchange> all = {
      {"Help", 200, true, 0, nullptr, true},
      {"Version", 200, true, 1, nullptr, true},
      {"Getip", 100, false, -1, IsAddressReply, true},
      {"Getgw", 100, false, -1, IsAddressReply, true},
      {"Getmask", 100, false, -1, IsAddressReply, true},
      {"Getstatus", 200, false, -1, IsStatusReply, true},
  };
  for (int n = 1; n <= 4; n++)
    all.push_back({"GETADC", 100, false, -1, IsCountReply, true});
  for (int n = 1; n <= 4; n++)
    all.push_back({"GETPORT", 100, false, -1, IsInputReply, true});
  if (lcd)
    all.insert(all.begin() + 5, {{"initlcd", 100, false, -1, nullptr, false},
                                 {"writelcd", 100, false, -1, nullptr, false},
                                 {"writelcd", 100, false, -1, nullptr, false}});
  return all;
}

// The scripted connection and the board link's reading of it.
//
// The script (platform/headless/headless.h): a receive takes what is left
// of the current piece, as much as it has room for; after a piece taken
// whole, and for an empty piece, one receive finds nothing. Once the
// pieces run out, the board has closed the connection.
//
// Time moves only while nothing comes: a receive that finds nothing lasts
// until the windows' next serving (every ServeSlice) or until the reply's
// next bound, whichever comes first; bytes take no time.
//
// A reply is whole at the first line feed (one line), once LineGapSettle
// has passed after a line feed or a full receive without a byte, or the
// moment a learned reply has come as learned. It must begin within
// ReplyStartLimit of its command and be whole within ReplyWholeLimit (a
// reply of lines at a line end is taken then, cut); otherwise, or when
// more than DiscardLimit bytes are thrown, or the board closes, the
// connection is lost and nothing more is received.
struct ScriptModel {
  // The link takes at most this many bytes a receive of a reply.
  static constexpr size_t ReceiveRoom = 512;

  explicit ScriptModel(const std::vector<std::string>* pieces)
      : Pieces(pieces) {}

  const std::vector<std::string>* Pieces;
  size_t Next = 0, Taken = 0;
  bool Apart = false;
  bool Lost = false;

  // What the program keeps of the link: doubt, faults, the proof of the
  // last query, and what is known of the board on this connection.
  bool Doubt = false;
  int Faults = 0;
  bool LevelProven = false;
  int Slowest = 0;
  bool Learned[LearnedReplyCount] = {};
  std::string LearnedText[LearnedReplyCount];
  // Commands that went out, and the servings of the windows the waits
  // called for.
  int Sends = 0;
  int Servings = 0;

  bool Lose() {
    Lost = true;
    Slowest = 0;
    LevelProven = false;
    for (int i = 0; i < LearnedReplyCount; i++) {
      Learned[i] = false;
      LearnedText[i].clear();
    }
    return false;
  }

  // One receive: 1 and its bytes, 0 when it finds nothing, -1 when the
  // board has closed.
  int Take(size_t room, std::string* part) {
    if (Next >= Pieces->size()) return -1;
    const std::string& piece = (*Pieces)[Next];
    if (Apart || piece.empty()) {
      if (Apart)
        Apart = false;
      else
        Next++;
      return 0;
    }
    *part = piece.substr(Taken, room);
    Taken += part->size();
    if (Taken == piece.size()) {
      Next++;
      Taken = 0;
      Apart = true;
    }
    return 1;
  }

  // The wait of a receive at `now` with the windows last served at
  // `*served`, when nothing it waits for changes before `bound`.
  int Wait(int now, int* served, int bound) {
    if (now - *served >= ServeSlice) {
      *served = now;
      Servings++;
    }
    return std::max(1, std::min(*served + ServeSlice, bound) - now);
  }

  // What was left of a piece before a query is thrown away.
  bool Discard() {
    if (Lost || Taken == 0) return false;
    Next++;
    Taken = 0;
    Apart = true;
    Doubt = true;
    return true;
  }

  int ProofQuiet() const {
    return std::clamp(2 * Slowest, (int)LinkQuietTime, (int)ReplyStartLimit);
  }

  // The wait for `quiet` ms without a byte: -1 when the connection was
  // lost, else whether bytes were thrown meanwhile.
  int Quiet(int quiet) {
    if (Lost) return -1;
    int now = 0, served = 0, from = 0, thrown = 0;
    while (now - from < quiet) {
      if (thrown > DiscardLimit || now >= ReplyStartLimit + quiet)
        return Lose(), -1;
      int wait = Wait(now, &served, from + quiet);
      std::string part;
      int got = Take(DiscardPiece, &part);
      if (got < 0) return Lose(), -1;
      if (got == 0) {
        now += wait;
      } else {
        thrown += (int)part.size();
        from = now;
      }
    }
    Doubt = false;
    return thrown > 0 ? 1 : 0;
  }

  // One reply, of lines or of one line, `max` bytes of it kept; `learned`
  // the reply learned for it, if any. False when the connection was lost.
  bool Receive(bool lines, size_t max, const std::string* learned,
               ModelReply* r) {
    *r = ModelReply();
    if (Lost) return false;
    int now = 0, served = 0;
    bool atLineEnd = false;
    for (;;) {
      // When the reply's fate is sealed if nothing more comes, and what it
      // is then.
      int bound = ReplyWholeLimit;
      bool wholeThen = false;
      if (r->First < 0) {
        bound = ReplyStartLimit;
      } else if ((lines && atLineEnd) || r->Total >= max) {
        int settled = r->Last + LineGapSettle;
        wholeThen = settled <= ReplyWholeLimit || (lines && atLineEnd);
        bound = std::min(settled, (int)ReplyWholeLimit);
      }
      if (now >= bound) {
        if (!wholeThen) return Lose();
        r->Cut = !lines || now < r->Last + LineGapSettle;
        if (learned) r->Changed = true;
        break;
      }
      int wait = Wait(now, &served, bound);
      std::string part;
      int got = Take(ReceiveRoom, &part);
      if (got < 0) return Lose();
      if (got == 0) {
        now += wait;
        continue;
      }
      bool whole = false;
      if (!lines) {
        size_t feed = part.find('\n');
        if (feed != std::string::npos) {
          r->Extra = feed + 1 < part.size();
          part.resize(feed + 1);
          whole = true;
        }
      }
      if (r->First < 0) r->First = now;
      r->Last = now;
      r->Total += part.size();
      r->Bytes += part.substr(0, ReplyKeepLimit - r->Bytes.size());
      atLineEnd = part.back() == '\n';
      if (learned && !r->Changed) {
        if (r->Total > r->Bytes.size() || r->Bytes.size() > learned->size() ||
            learned->compare(0, r->Bytes.size(), r->Bytes) != 0) {
          r->Changed = true;
        } else if (r->Bytes.size() == learned->size()) {
          r->Matched = true;
          whole = true;
        }
      }
      if (r->Total - r->Kept(max) > (size_t)DiscardLimit) return Lose();
      if (whole) break;
    }
    Slowest = std::max(Slowest, lines ? r->First : r->Last);
    if ((r->Kept(max) < r->Total && !r->Matched) || r->Changed || r->Cut)
      Doubt = true;
    if (r->Extra) {
      Faults++;
      Doubt = true;
    }
    return true;
  }

  // One board query (PollBoard): proven, and learning the replies of lines
  // it reads whole by the silence rule, until both are learned on this
  // connection. `took` is told each reply that came: its exchange and the
  // text its buffer shows.
  void Query(bool lcd, const std::function<void(const ModelExchange&,
                                                const std::string&)>& took) {
    LevelProven = false;
    bool proven = !Lost && !(Learned[0] && Learned[1]);
    bool waiting = Discard();
    if (proven && (waiting || Doubt) && Quiet(ProofQuiet()) < 0) return;
    int faults = Faults;
    bool all = true, changed = false, unframed = false;
    bool read[LearnedReplyCount] = {};
    std::string readBytes[LearnedReplyCount];
    for (const ModelExchange& e : ModelQuery(lcd)) {
      if (Lost) {
        all = all && !e.Counts;
        continue;
      }
      Sends++;
      const std::string* learned =
          e.Lines && Learned[e.Slot] ? &LearnedText[e.Slot] : nullptr;
      ModelReply r;
      if (!Receive(e.Lines, e.Max, learned, &r)) {
        all = all && !e.Counts;
        continue;
      }
      unframed = unframed || r.Extra || r.Cut;
      std::string text = CutAtZero(r.Bytes.substr(0, r.Kept(e.Max)));
      if (e.Lines && !r.Matched) {
        if (r.Changed) {
          changed = true;
          Learned[e.Slot] = false;
        }
        if (!r.Cut && r.Total <= ReplyKeepLimit) {
          read[e.Slot] = true;
          readBytes[e.Slot] = r.Bytes;
        }
      }
      if (e.InForm && !e.InForm(text)) {
        Faults++;
        Doubt = true;
      }
      if (e.Counts) took(e, text);
    }
    if (!proven || Lost) return;
    bool inForm = all && !changed && Faults == faults;
    int behind = Quiet(ProofQuiet());
    if (behind > 0) Faults++;
    Doubt = behind != 0 || !inForm;
    LevelProven = inForm && behind == 0;
    // The replies of lines are learned once every reply came whole and
    // nothing behind, whatever the forms of the others.
    if (!all || changed || unframed || behind != 0) return;
    for (int i = 0; i < LearnedReplyCount; i++) {
      if (!read[i]) continue;
      Learned[i] = true;
      LearnedText[i] = readBytes[i];
    }
  }
};

// The program's own account of the link against the model's; what
// differs, or null.
inline const char* LinkAsModelled(const ScriptModel& m) {
  const AppStateRecord& s = AppState;
  if ((s.Link.ConnectionLost == 1) != m.Lost)
    return "connection lost as modelled";
  if (s.Query.LinkInDoubt != m.Doubt) return "link in doubt as modelled";
  if (s.Query.ReplyFaults != m.Faults) return "faulty replies as modelled";
  if (s.Readings.LevelProven != m.LevelProven) return "proof of the query";
  if (s.Link.SlowestReply != m.Slowest) return "slowest reply";
  if (ProofQuietTime() != m.ProofQuiet()) return "proof quiet";
  for (int i = 0; i < LearnedReplyCount; i++) {
    if (s.Link.ReplyLearned[i] != m.Learned[i]) return "reply learned";
    if (s.Link.LearnedReply[i] != m.LearnedText[i])
      return "learned reply's bytes";
  }
  return nullptr;
}
