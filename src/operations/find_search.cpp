#include "operations/find_search.h"

#include <chrono>
#include <utility>

namespace {

// Plain ASCII upper-cases the same under every table: such names skip the system's call.
std::u32string fold(const std::string& name) {
  std::u32string out(name.size(), U'\0');
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c >= 0x80) return fold_name(name);
    out[i] = c >= 'a' && c <= 'z' ? c - 32 : c;
  }
  return out;
}

}  // namespace

NamePattern::NamePattern(const std::string& pattern) : folded_(fold(pattern)) {
  if (folded_.find_first_not_of(U'*') == std::u32string::npos) folded_.clear();  // any name
}

// The last "*" seen is where a failed match goes back to: each later start of the name after it
// is tried once, so a pattern of many stars stays linear in practice.
bool NamePattern::matches(const std::string& name) const {
  if (folded_.empty()) return true;
  std::u32string n = fold(name);
  const std::u32string& p = folded_;
  size_t pi = 0, ni = 0, star = std::u32string::npos, resume = 0;
  while (ni < n.size()) {
    if (pi < p.size() && p[pi] == U'*') {
      star = pi++;
      resume = ni;
    } else if (pi < p.size() && (p[pi] == U'?' || p[pi] == n[ni])) {
      ++pi;
      ++ni;
    } else if (star != std::u32string::npos) {
      pi = star + 1;
      ni = ++resume;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == U'*') ++pi;
  return pi == p.size();
}

namespace {

using Clock = std::chrono::steady_clock;

class Batcher {
 public:
  Batcher(const FindSink& sink, const FindLimits& limits) : sink_(sink), limits_(limits), last_(Clock::now()) {}

  void hit(FindHit&& h) {
    batch_.push_back(std::move(h));
    ++counts_.found;
    if (counts_.found == 1 || batch_.size() >= limits_.batch_hits) hand_over();
  }
  void folder_done() {
    ++counts_.folders;
    if (Clock::now() - last_ >= std::chrono::milliseconds(limits_.batch_interval_ms)) hand_over();
  }
  void hand_over() {
    sink_(batch_, counts_);
    batch_.clear();
    last_ = Clock::now();
  }
  // A match that would pass the limit ends the walk: the counts say so.
  bool take_one_more() {
    if (counts_.found < limits_.most_hits) return true;
    counts_.limited = true;
    return false;
  }
  bool limited() const { return counts_.limited; }

 private:
  const FindSink& sink_;
  const FindLimits& limits_;
  Clock::time_point last_;
  std::vector<FindHit> batch_;
  FindCounts counts_;
};

}  // namespace

bool find_walk(const std::string& root, const NamePattern& pattern, const std::atomic<bool>& cancel,
               const FindSink& sink, const DetailEnumerator& enumerate, const FindLimits& limits) {
  char separator = !root.empty() && root.back() == '/' ? '/' : '\\';
  Batcher batcher(sink, limits);
  std::vector<std::string> waiting{std::string()};  // folders below root, still to be looked at
  std::vector<std::string> below;
  while (!waiting.empty() && !cancel && !batcher.limited()) {
    std::string folder = std::move(waiting.back());
    waiting.pop_back();
    below.clear();
    enumerate(root + folder, [&](const FolderDetail& e) {
      if (cancel) return false;
      bool match = pattern.matches(e.name);
      if (match && !batcher.take_one_more()) return false;
      if (e.is_folder && !e.is_link) below.push_back(folder + e.name + separator);
      if (match)
        batcher.hit(FindHit{folder, e.name, e.is_folder, e.size, e.write_time, e.creation_time, e.access_time});
      return true;
    });
    batcher.folder_done();
    // Reversed, so the folders are entered in the order the system listed them.
    for (auto it = below.rbegin(); it != below.rend(); ++it) waiting.push_back(std::move(*it));
  }
  batcher.hand_over();
  return !cancel;
}

void FindSearch::start(const std::string& root, const std::string& pattern, const DetailEnumerator& enumerate,
                       const FindLimits& limits) {
  stop();
  cancel_ = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    pending_.clear();
    counts_ = FindCounts();
    running_ = true;
  }
  worker_ = std::thread([this, root, pattern, enumerate, limits] {
    NamePattern p(pattern);
    find_walk(root, p, cancel_,
              [this](std::vector<FindHit>& batch, const FindCounts& counts) {
                std::lock_guard<std::mutex> hold(lock_);
                for (FindHit& h : batch) pending_.push_back(std::move(h));
                counts_ = counts;
              },
              enumerate, limits);
    std::lock_guard<std::mutex> hold(lock_);
    running_ = false;
  });
}

void FindSearch::stop() {
  cancel_ = true;
  if (worker_.joinable()) worker_.join();
}

bool FindSearch::take(std::vector<FindHit>& into, FindCounts& counts) {
  std::lock_guard<std::mutex> hold(lock_);
  for (FindHit& h : pending_) into.push_back(std::move(h));
  pending_.clear();
  counts = counts_;
  return running_;
}

std::string find_status_text(const FindCounts& c, bool running, bool stopped) {
  std::string counts = std::to_string(c.folders) + (c.folders == 1 ? " folder" : " folders") + " looked at, " +
                       std::to_string(c.found) + " found";
  if (running) return "Searching... " + counts;
  if (c.limited) return "Stopped at the limit: " + counts;
  return (stopped ? "Stopped: " : "Done: ") + counts;
}

std::string find_folder_text(const std::string& root, const std::string& archive_path, const std::string& mirror_root) {
  if (archive_path.empty() || mirror_root.empty() || root.compare(0, mirror_root.size(), mirror_root) != 0) return root;
  return archive_path + "\\" + root.substr(mirror_root.size());
}

namespace {

template <typename T>
int three_way(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

bool find_row_before(const FindRowKey& a, const FindRowKey& b, int column, int direction) {
  int order = 0;
  if (column == FIND_COLUMN_SIZE)
    order = a.is_folder != b.is_folder ? three_way(a.is_folder, b.is_folder) : three_way(a.size, b.size);
  else if (column == FIND_COLUMN_DATE)
    order = three_way(a.date, b.date);
  else
    order = a.path_key.compare(b.path_key);
  return order * direction < 0;
}
