#include "pinhistory/VcdWriter.h"

#include <cctype>
#include <ctime>
#include <functional>
#include <queue>
#include <set>

namespace {

bool IsWordByte(unsigned char c) { return c < 0x80 && (std::isalnum(c) || c == '_'); }

char LevelCode(PinLevel l) {
  switch (l) {
    case PinLevel::High: return '1';
    case PinLevel::Low: return '0';
    default: return 'x';
  }
}

// Text for a $comment: no "$" (it would end the comment early), no control
// characters.
std::string CommentText(const std::string& s) {
  std::string out;
  for (unsigned char c : s) out += (c == '$' || c < 0x20 || c == 0x7F) ? ' ' : static_cast<char>(c);
  return out;
}

std::string Now() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%a %b %d %H:%M:%S %Y", &tm);
  return buf;
}

}  // namespace

namespace {

// Every run of bytes other than letters, digits and "_" becomes one "_".
std::string Escape(std::string_view text) {
  std::string out;
  bool run = false;
  for (unsigned char c : text) {
    if (IsWordByte(c)) {
      out += static_cast<char>(c);
      run = false;
    } else if (!run) {
      out += '_';
      run = true;
    }
  }
  return out;
}

}  // namespace

std::string VcdIdentifier(std::string_view text) {
  std::string out = Escape(text);
  if (out.empty() || out == "_") return "pin";
  if (std::isdigit(static_cast<unsigned char>(out[0]))) out.insert(out.begin(), '_');
  return out;
}

std::vector<std::string> VcdWireNames(const PinHistory& history, const std::vector<size_t>& pins) {
  std::vector<std::string> names;
  std::set<std::string> used;
  for (size_t pin : pins) {
    const RecordedPin& rp = history.Pins()[pin];
    std::string function;
    if (const PinChange* c = history.StateAt(pin, history.CompleteFromUs())) function = history.Function(c->function);
    if (function.empty()) function = rp.name;
    std::string name = VcdIdentifier(function);
    const std::string number = Escape(rp.number);
    if (!number.empty() && number != "_") name += "_pin" + number;
    std::string unique = name;
    for (int n = 2; used.count(unique) != 0; ++n) unique = name + "_" + std::to_string(n);
    used.insert(unique);
    names.push_back(unique);
  }
  return names;
}

std::string VcdCode(size_t index) {
  std::string code;
  do {
    code += static_cast<char>('!' + index % 94);
    index /= 94;
  } while (index-- > 0);
  return code;
}

bool WriteVcd(std::ostream& out, const PinHistory& history, const std::vector<size_t>& pins,
              const VcdHeader& header) {
  const int64_t t0 = history.CompleteFromUs();
  const std::vector<std::string> names = VcdWireNames(history, pins);
  out << "$date\n  " << (header.date.empty() ? Now() : CommentText(header.date)) << "\n$end\n";
  out << "$version\n  " << CommentText(header.version) << "\n$end\n";
  out << "$comment\n  Pin history of " << CommentText(history.PackageName()) << ": " << pins.size() << " of "
      << history.Pins().size() << " pins; time 0 is " << t0 << " us of the monotonic clock";
  if (history.Truncated()) out << "; older changes were dropped, the history is complete from here on";
  out << "\n$end\n";
  out << "$timescale 1 us $end\n";
  out << "$scope module " << VcdIdentifier(history.PackageName().empty() ? "gadrel" : history.PackageName())
      << " $end\n";
  for (size_t k = 0; k < pins.size(); ++k) out << "$var wire 1 " << VcdCode(k) << ' ' << names[k] << " $end\n";
  out << "$upscope $end\n$enddefinitions $end\n";

  // The state of every wire at time 0, then the level changes of all wires
  // merged in time order.
  std::vector<char> value(pins.size(), 'x');
  std::vector<size_t> next(pins.size(), 0);
  out << "#0\n$dumpvars\n";
  for (size_t k = 0; k < pins.size(); ++k) {
    const std::vector<PinChange>& v = history.Changes(pins[k]);
    size_t i = 0;
    while (i < v.size() && v[i].timeUs <= t0) ++i;
    if (i > 0) value[k] = LevelCode(v[i - 1].level);
    next[k] = i;
    out << value[k] << VcdCode(k) << '\n';
  }
  out << "$end\n";

  using Entry = std::pair<int64_t, size_t>;  // time of the wire's next change, wire
  std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
  for (size_t k = 0; k < pins.size(); ++k) {
    const std::vector<PinChange>& v = history.Changes(pins[k]);
    if (next[k] < v.size()) queue.push({v[next[k]].timeUs, k});
  }
  int64_t written = 0;
  while (!queue.empty()) {
    const auto [t, k] = queue.top();
    queue.pop();
    const std::vector<PinChange>& v = history.Changes(pins[k]);
    const char code = LevelCode(v[next[k]].level);
    if (code != value[k]) {
      if (t - t0 != written) {
        written = t - t0;
        out << '#' << written << '\n';
      }
      out << code << VcdCode(k) << '\n';
      value[k] = code;
    }
    if (++next[k] < v.size()) queue.push({v[next[k]].timeUs, k});
  }
  // The last levels last until the end of the recording.
  if (history.EndUs() - t0 > written) out << '#' << history.EndUs() - t0 << '\n';
  out.flush();
  return static_cast<bool>(out);
}
