#include "operations/run_progress.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "explorer/list_cells.h"

namespace {

bool take_number(const std::string& line, size_t& at, int64_t& value) {
  size_t end = line.find(' ', at);
  std::string digits = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
  if (digits.empty() || digits.size() > 19) return false;
  size_t first = digits[0] == '-' ? 1 : 0;
  if (first == digits.size()) return false;
  for (size_t i = first; i < digits.size(); ++i)
    if (digits[i] < '0' || digits[i] > '9') return false;
  value = std::strtoll(digits.c_str(), nullptr, 10);
  at = end == std::string::npos ? line.size() : end + 1;
  return true;
}

std::string clock_text(int64_t seconds) {
  char text[32];
  if (seconds >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  return text;
}

}  // namespace

bool parse_progress_line(const std::string& line, RunProgress& p) {
  static const std::string prefix = "progress ";
  if (line.compare(0, prefix.size(), prefix) != 0) return false;
  size_t at = prefix.size();
  int64_t done = 0, total = 0;
  if (!take_number(line, at, done) || !take_number(line, at, total) || done < 0 || total < -1) return false;
  p.done = done;
  p.total = total;
  p.member = line.substr(at);
  p.seen = true;
  return true;
}

int progress_position(const RunProgress& p, int range) {
  if (p.total < 0) return -1;
  if (p.total == 0) return p.seen ? range : 0;
  int64_t done = p.done > p.total ? p.total : p.done;
  return static_cast<int>(static_cast<double>(done) * range / static_cast<double>(p.total));
}

std::string progress_status(const RunProgress& p, double seconds) {
  if (!p.seen) return "Starting...";
  std::string text = clock_text(static_cast<int64_t>(seconds)) + " elapsed";
  std::string amount = size_cell(static_cast<uint64_t>(p.done));
  double rate = seconds > 0 ? static_cast<double>(p.done) / seconds : 0;
  // A rate measured over less than a second says little.
  bool rated = seconds >= 1.0 && p.done > 0;
  if (p.total >= 0) {
    int64_t done = p.done > p.total ? p.total : p.done;
    int percent = p.total > 0 ? static_cast<int>(static_cast<double>(done) * 100 / static_cast<double>(p.total)) : 100;
    if (rated && p.total > p.done)
      text += ", " + clock_text(static_cast<int64_t>((p.total - p.done) / rate + 0.5)) + " left";
    amount += " of " + size_cell(static_cast<uint64_t>(p.total)) + " (" + std::to_string(percent) + " %)";
  }
  text += ", " + amount;
  if (rated) text += ", " + size_cell(static_cast<uint64_t>(rate)) + "/s";
  if (!p.member.empty()) text += "\n" + shown_member(p.member);
  return text;
}

std::string shown_member(const std::string& member) {
  std::vector<size_t> starts;  // of the code points; bad UTF-8 cannot make a cut inside one
  for (size_t i = 0; i < member.size(); ++i)
    if (i == 0 || (static_cast<unsigned char>(member[i]) & 0xC0) != 0x80) starts.push_back(i);
  if (starts.size() <= MEMBER_SHOWN) return member;
  return "..." + member.substr(starts[starts.size() - (MEMBER_SHOWN - 3)]);
}
