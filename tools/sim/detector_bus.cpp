#include "tools/sim/detector_bus.h"

#include <algorithm>
#include <utility>

namespace {

struct Answer {
  std::size_t detector = 0;
  Response response;
};

// A reply nothing collides with goes out as the detector shaped it.
LineResponse Alone(Answer answer) {
  LineResponse line;
  for (ReplyPart& part : answer.response.parts) {
    line.parts.push_back({part.delay, std::move(part.bytes), {}});
  }
  if (answer.response.write) {
    line.parts.back().writes.push_back({answer.detector, *answer.response.write});
  }
  return line;
}

std::size_t BitsIn(std::chrono::milliseconds delay, std::size_t baud) {
  return static_cast<std::size_t>(delay.count()) * baud / 1000;
}

std::chrono::milliseconds DelayOf(std::size_t bits, std::size_t baud) {
  return std::chrono::milliseconds((bits * 1000 + baud - 1) / baud);
}

// Several replies on the line at once, as the master hears them.
LineResponse Collide(const std::vector<Answer>& answers, int lineBaud) {
  // Detectors answer only at a rate they know; the floor just keeps the divisions safe.
  const auto baud = static_cast<std::size_t>(std::max(lineBaud, 1));
  std::vector<Transmission> sent;
  std::vector<std::pair<std::size_t, DetectorWrite>> writes;  // each with its detector's end
  for (std::size_t rank = 0; rank < answers.size(); ++rank) {
    // A detector sends its parts one after the other, never two at once.
    std::size_t free = 0;
    for (const ReplyPart& part : answers[rank].response.parts) {
      const std::size_t start = std::max(BitsIn(part.delay, baud) + rank * kAnswerSkewBits, free);
      sent.push_back({start, part.bytes});
      free = start + kBitsPerByte * part.bytes.size();
    }
    if (const auto& write = answers[rank].response.write) {
      writes.push_back({free, {answers[rank].detector, *write}});
    }
  }

  LineResponse line;
  std::vector<std::size_t> partStarts;
  std::size_t heardEnd = 0;
  for (const HeardByte& byte : HearOnLine(sent)) {
    // After a whole character of idle line the rest goes out later, as a part of its own.
    if (line.parts.empty() || byte.startBit >= heardEnd + kBitsPerByte) {
      line.parts.push_back({DelayOf(byte.startBit, baud), {}, {}});
      partStarts.push_back(byte.startBit);
    }
    line.parts.back().bytes.push_back(byte.value);
    heardEnd = byte.startBit + kBitsPerByte;
  }
  for (const auto& [end, write] : writes) {
    // The part the detector's last bit went out in: the one begun last before that bit. There
    // is one, as the detector's first start bit pulled the line low.
    const auto next = std::lower_bound(partStarts.begin(), partStarts.end(), end);
    line.parts[static_cast<std::size_t>(next - partStarts.begin()) - 1].writes.push_back(write);
  }
  return line;
}

}  // namespace

DetectorBus::DetectorBus(const DetectorModel& first, const std::vector<DetectorModel>& others) {
  detectors_.push_back(first);
  detectors_.insert(detectors_.end(), others.begin(), others.end());
}

DetectorModel* DetectorBus::At(unsigned address) {
  const auto it = std::find_if(detectors_.begin(), detectors_.end(),
                               [&](const DetectorModel& d) { return d.Address() == address; });
  return it == detectors_.end() ? nullptr : &*it;
}

LineResponse DetectorBus::Respond(std::span<const std::uint8_t> frame, int lineBaud) {
  std::vector<Answer> answers;
  std::string note;
  for (std::size_t i = 0; i < detectors_.size(); ++i) {
    Response response = detectors_[i].Respond(frame, lineBaud);
    if (detectors_.size() == 1) {
      note = response.note;
    } else {
      note += (i == 0 ? "[" : "; [") + std::to_string(i + 1) + "] " + response.note;
    }
    if (!response.parts.empty()) answers.push_back({i, std::move(response)});
  }
  LineResponse line;
  if (answers.size() == 1) line = Alone(std::move(answers.front()));
  if (answers.size() > 1) {
    line = Collide(answers, lineBaud);
    note += "; the replies collide";
  }
  if (!line.parts.empty() && !burst_.empty()) {
    // At the reply's last part's time and queued after it, so it follows that part at once.
    note += "; then a burst of " + std::to_string(burst_.size()) + " bytes";
    line.parts.push_back({line.parts.back().delay, std::exchange(burst_, {}), {}});
  }
  line.note = std::move(note);
  if (detectors_.front().fault() == Fault::kEcho) {
    // A two-wire adapter without echo suppression hears its own sending, before any reply.
    line.parts.insert(line.parts.begin(), LinePart{{}, {frame.begin(), frame.end()}, {}, true});
    line.note = "echoed; " + line.note;
  }
  return line;
}

std::vector<HeardByte> HearOnLine(std::span<const Transmission> sent) {
  std::size_t end = 0;
  for (const Transmission& t : sent) {
    end = std::max(end, t.startBit + kBitsPerByte * t.bytes.size());
  }
  // Idle high; room past the end for the data bits after a start bit near it.
  std::vector<bool> high(end + kBitsPerByte, true);
  for (const Transmission& t : sent) {
    for (std::size_t i = 0; i < t.bytes.size(); ++i) {
      const std::size_t start = t.startBit + kBitsPerByte * i;
      high[start] = false;
      for (unsigned bit = 0; bit < 8; ++bit) {
        if ((t.bytes[i] >> bit & 1) == 0) high[start + 1 + bit] = false;
      }
    }
  }
  std::vector<HeardByte> heard;
  for (std::size_t at = 0; at < end;) {
    if (high[at]) {
      ++at;
      continue;
    }
    std::uint8_t value = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
      if (high[at + 1 + bit]) value |= static_cast<std::uint8_t>(1u << bit);
    }
    heard.push_back({at, value});
    at += kBitsPerByte;
  }
  return heard;
}
