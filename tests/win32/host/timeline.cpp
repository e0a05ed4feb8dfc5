#include "timeline.h"

namespace timeline {

const char* Name(Kind kind) {
  switch (kind) {
    case Kind::Off:
      return "off";
    case Kind::Lead:
      return "lead";
    case Kind::Idle:
      return "idle";
    case Kind::Start:
      return "start";
    case Kind::Data:
      return "data";
    case Kind::Stop:
      return "stop";
    case Kind::Error:
      return "error";
  }
  return "?";
}

Keying Decode(const std::vector<box::Event>& reports, const Wiring& wiring) {
  Keying keying;
  std::vector<const box::Event*> written;
  for (const box::Event& e : reports) {
    if (e.kind == box::EventKind::Write && e.ok) written.push_back(&e);
  }

  enum class State { Off, Lead, Idle, Data, Stop } state = State::Off;
  int code = 0;
  int bits = 0;
  for (size_t i = 0; i < written.size(); ++i) {
    const uint8_t line = written[i]->line();
    const double hold = i + 1 < written.size() ? written[i + 1]->ms - written[i]->ms : 0;
    const bool pttOn = (line & wiring.pttBit) == 0;
    const bool open = (line & wiring.fskBit) != 0;
    const int level = open == wiring.reverse ? 1 : 0;

    Kind kind;
    if (!pttOn) {
      if (state == State::Data || state == State::Stop) keying.characters.pop_back();
      kind = Kind::Off;
      state = State::Off;
    } else if (state == State::Off || state == State::Lead) {
      kind = level ? Kind::Idle : Kind::Lead;
      state = level ? State::Idle : State::Lead;
    } else if (state == State::Idle) {
      kind = level ? Kind::Idle : Kind::Start;
      if (!level) {
        state = State::Data;
        code = 0;
        bits = 0;
        keying.characters.push_back(Character{0, keying.elements.size()});
      }
    } else if (state == State::Data) {
      kind = Kind::Data;
      code |= level << bits;
      if (++bits == 5) state = State::Stop;
    } else {
      kind = level ? Kind::Stop : Kind::Error;
      if (level) {
        keying.characters.back().code = code;
        state = State::Idle;
      } else {
        keying.characters.pop_back();
        state = State::Lead;
      }
    }
    keying.elements.push_back(Element{kind, written[i]->ms, hold, line, level});
  }
  // A character cut off by PTT off or the end of the record is not counted.
  if (state == State::Data || state == State::Stop) keying.characters.pop_back();
  return keying;
}

}  // namespace timeline
