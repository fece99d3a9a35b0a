#include "remove_stream.h"

#include <algorithm>
#include <memory>

#include "codec.h"
#include "format/archive_format.h"

namespace {

constexpr size_t OUTPUT_CHUNK = 1 << 20;
constexpr size_t COPY_CHUNK = 1 << 20;

// Live figures: the old bytes copied and the members decoded, against their sum.
struct Figures {
  RunControl* control = nullptr;
  const std::function<void(int64_t, int64_t)>* progress = nullptr;
  int64_t done = 0;
  int64_t total = 0;
  void add(int64_t bytes) {
    done += bytes;
    add_progress(control, bytes);
    if (*progress) (*progress)(done, total);
  }
};

// A stretch of the old archive copied as it is, or a copy's entry written anew in its place.
struct Stretch {
  int64_t at = 0;
  int64_t length = 0;
  const CopyRewrite* rewrite = nullptr;
};

// Copies the old archive's stretches of untouched streams, in order, up to a given offset.
class Copier {
 public:
  Copier(File& old, ArchiveOutput& out, Figures& figures) : old_(old), out_(out), figures_(figures) {}
  std::vector<Stretch> stretches;

  bool copy_until(int64_t offset, std::string& problem) {
    std::vector<uint8_t> buffer;
    for (; next_ < stretches.size() && stretches[next_].at < offset; ++next_) {
      if (stretches[next_].rewrite) {
        if (!write_rewrite(*stretches[next_].rewrite, buffer, problem)) return false;
        continue;
      }
      int64_t at = stretches[next_].at, left = stretches[next_].length;
      while (left > 0) {
        if (cancelled(figures_.control)) return false;
        size_t n = static_cast<size_t>(std::min<int64_t>(left, COPY_CHUNK));
        buffer.resize(n);
        if (!old_.read_at(at, buffer.data(), n) || !out_.write(buffer.data(), n)) {
          problem = "cannot copy the members that stay: " + last_error_text();
          return false;
        }
        at += static_cast<int64_t>(n);
        left -= static_cast<int64_t>(n);
        figures_.add(static_cast<int64_t>(n));
      }
    }
    return true;
  }

 private:
  bool write_rewrite(const CopyRewrite& r, std::vector<uint8_t>& buffer, std::string& problem) {
    if (!out_.write(r.header.data(), r.header.size())) {
      problem = write_problem();
      return false;
    }
    if (r.data_path.empty()) return true;
    File data;
    if (!data.open_read(r.data_path)) {
      problem = "cannot read the data of a copy taken from " + r.data_path + ": " + last_error_text();
      return false;
    }
    buffer.resize(COPY_CHUNK);
    for (int64_t left = r.data_size; left > 0;) {
      if (cancelled(figures_.control)) return false;
      int64_t got = data.read(buffer.data(), static_cast<size_t>(std::min<int64_t>(left, COPY_CHUNK)));
      if (got <= 0 || !out_.write(buffer.data(), static_cast<size_t>(got))) {
        problem = got <= 0 ? "cannot read " + r.data_path : write_problem();
        return false;
      }
      left -= got;
      figures_.add(got);
    }
    return true;
  }

  File& old_;
  ArchiveOutput& out_;
  Figures& figures_;
  size_t next_ = 0;
};

// One solid stream compressed again with its own method, through the method's codec.
class StreamEncoder {
 public:
  // An LZMA2 stream keeps its filter and at least its dictionary, within the memory there is.
  StreamEncoder(const EntryHeader& first, const KeptEntries& kept) {
    DeflateSettings deflate = kept.deflate;
    deflate.level = std::max(deflate.level, 1);  // a deflate stream stays deflate
    LzmaSettings lzma;
    if (first.method == METHOD_LZMA2) {
      lzma = kept.lzma.preset >= 0 ? kept.lzma : lzma_settings(1, true, 0, true);
      lzma.dictionary = std::max(lzma.dictionary, first.dictionary);
    }
    // A zstd stream stays zstd even for a caller that left its level out.
    ZstdSettings zstd;
    if (first.method == METHOD_ZSTD) zstd = kept.zstd.level > 0 ? kept.zstd : zstd_settings(3, false, 7, true);
    // A PPMd stream keeps its model; its memory is the stream's own, which a reader took already.
    std::unique_ptr<EncodingMethod> method = first.method == METHOD_PPMD
                                                 ? ppmd_encoding(PpmdSettings{first.ppmd_order, first.ppmd_memory})
                                                 : encoding_method(deflate, zstd, lzma);
    int threads = 1;
    if (first.method == METHOD_LZMA2) method->fit(threads, true, address_space_budget());  // zstd's workers were fitted already
    encoder_ = method->encoder();
    encoder_->use_filter(first.filter, first.filter_distance);
  }
  uint32_t dictionary() const { return encoder_->dictionary(); }
  uint8_t model_order() const { return encoder_->model_order(); }
  uint32_t model_memory() const { return encoder_->model_memory(); }
  bool begin(int64_t expected, std::string& problem) {
    if (encoder_ && encoder_->ready()) return encoder_->begin(expected, problem);
    problem = "out of memory for the compressor";
    return false;
  }
  bool feed(const uint8_t* data, size_t size, bool end, const EmitBytes& emit, std::string& problem) {
    return encoder_->feed(data, size, end ? Flush::FINISH : Flush::NONE, emit, problem);
  }
  // A cancelled run does not wait for zstd's workers to finish their jobs.
  void abandon() { encoder_->abandon(); }

 private:
  std::unique_ptr<Encoder> encoder_;
};

// Takes the decoded members of the streams that lost a member, as the reader hands them over
// in index order, and writes the kept ones as one new stream per old one.
class Reencoder {
 public:
  Reencoder(const KeptEntries& kept, File& old, ArchiveOutput& out, Copier& copier, Figures& figures)
      : kept_(kept), entries_(*kept.entries), old_(old), out_(out), copier_(copier), figures_(figures) {
    for (size_t s = 0; s < kept.streams.size(); ++s) {
      const StreamSpan& span = kept.streams[s];
      if (span.kept == 0 || span.kept == span.count) continue;
      for (size_t i = span.first; i < span.first + span.count; ++i) order_.push_back({i, s});
    }
    decoded_.assign(entries_.size(), 0);
    for (const Place& p : order_) decoded_[p.entry] = !(*kept.removed)[p.entry];
  }
  ~Reencoder() {
    if (encoder_ && cancelled(figures_.control)) encoder_->abandon();
  }

  bool idle() const { return order_.empty(); }
  // The members the reader decodes for us: the kept ones of these streams.
  bool wanted(size_t entry) const { return decoded_[entry] != 0; }
  bool finished() const { return cursor_ == order_.size(); }
  std::string problem;

  void data(const uint8_t* bytes, size_t size) {
    figures_.add(static_cast<int64_t>(size));
    if (!problem.empty() || finished() || (*kept_.removed)[order_[cursor_].entry]) return;
    if (start_member(order_[cursor_])) feed(bytes, size, false);
  }

  void member_done(const EntryHeader& h) {
    if (!problem.empty()) return;
    if (finished() || h.path() != entries_[order_[cursor_].entry].header.path()) {
      problem = "the members came back out of their order";
      return;
    }
    Place place = order_[cursor_++];
    if ((*kept_.removed)[place.entry] || !start_member(place)) return;
    const StreamSpan& span = kept_.streams[place.stream];
    bool last = ++kept_done_ == span.kept;
    if (last) feed(nullptr, 0, true);
    if (!problem.empty()) return;
    header_.compressed_size = static_cast<uint64_t>(stream_bytes_ - member_from_);
    header_.entry_length = header_size(header_) +
                           static_cast<int64_t>(header_.compressed_size);
    if (!out_.patch(header_position_, encode_header(header_))) problem = write_problem();
    in_member_ = false;
    if (last) {
      encoder_.reset();
      kept_done_ = 0;
    }
  }

 private:
  struct Place {
    size_t entry;
    size_t stream;
  };

  // The member's header as stored (its own name bytes and flags), rewritten for its new place.
  bool start_member(const Place& place) {
    if (in_member_) return true;
    const StreamSpan& span = kept_.streams[place.stream];
    if (!encoder_ && !start_stream(span)) return false;
    const StoredEntry& e = entries_[place.entry];
    if (!read_stored_header(old_, e, header_)) {
      problem = "cannot read the header of " + e.header.path();
      return false;
    }
    header_.flags = static_cast<uint8_t>((header_.flags & ~ENTRY_FLAG_SOLID_NEXT) |
                                         (kept_done_ > 0 ? ENTRY_FLAG_SOLID_NEXT : 0));
    // The new stream's first member carries what its decoder must know.
    const EntryHeader& stream_first = entries_[span.first].header;
    bool first = kept_done_ == 0 && header_.method == METHOD_LZMA2;
    header_.filter = first ? stream_first.filter : FILTER_NONE;
    header_.filter_distance = first ? stream_first.filter_distance : 0;
    header_.dictionary = first ? encoder_->dictionary() : 0;
    const bool first_ppmd = kept_done_ == 0 && header_.method == METHOD_PPMD;
    header_.ppmd_order = first_ppmd ? encoder_->model_order() : 0;
    header_.ppmd_memory = first_ppmd ? encoder_->model_memory() : 0;
    if (figures_.control) figures_.control->working_on(&e.header.name);
    header_position_ = out_.written();
    member_from_ = stream_bytes_;
    in_member_ = true;
    std::vector<uint8_t> placeholder = encode_header(header_);
    if (out_.write(placeholder.data(), placeholder.size())) return true;
    problem = write_problem();
    return false;
  }

  bool start_stream(const StreamSpan& span) {
    if (!copier_.copy_until(entries_[span.first].offset, problem)) {
      if (problem.empty()) problem = CANCELLED_PROBLEM;
      return false;
    }
    int64_t expected = 0;
    for (size_t i = span.first; i < span.first + span.count; ++i)
      if (!(*kept_.removed)[i]) expected += entries_[i].header.size;
    encoder_ = std::make_unique<StreamEncoder>(entries_[span.first].header, kept_);
    return encoder_->begin(expected, problem);
  }

  void feed(const uint8_t* bytes, size_t size, bool end) {
    bool written = true;
    bool fed = encoder_->feed(bytes, size, end, [&](const uint8_t* p, size_t n) {
      stream_bytes_ += static_cast<int64_t>(n);
      written = !cancelled(figures_.control) && out_.write(p, n);
      return written;
    }, problem);
    if (cancelled(figures_.control)) problem = CANCELLED_PROBLEM;
    else if (!written) problem = write_problem();
    else if (!fed && problem.empty()) problem = "compression failed";
  }

  const KeptEntries& kept_;
  const std::vector<StoredEntry>& entries_;
  File& old_;
  ArchiveOutput& out_;
  Copier& copier_;
  Figures& figures_;
  std::vector<char> decoded_;  // per entry: read back for the new stream
  std::vector<Place> order_;  // every entry of the streams compressed again, in index order
  size_t cursor_ = 0;
  size_t kept_done_ = 0;      // kept members of the current stream written whole
  std::unique_ptr<StreamEncoder> encoder_;
  EntryHeader header_;
  int64_t header_position_ = 0;
  int64_t member_from_ = 0;
  int64_t stream_bytes_ = 0;
  bool in_member_ = false;
};

// Runs the reader over the streams to compress again; the reader stops between blocks once
// the run is cancelled or the writing has failed.
bool decode_streams(Reencoder& re, const KeptEntries& kept, std::string& problem) {
  RunControl inner;
  auto stop_when_done = [&] {
    if (!re.problem.empty() || cancelled(kept.control)) inner.cancel = true;
  };
  ReadJob read;
  read.mode = ReadMode::TEST;
  read.archive_path = kept.archive_path;
  read.index_start = kept.index_start;
  read.control = &inner;
  read.file_name = [&re](size_t entry) { return re.wanted(entry) ? std::string("kept") : std::string(); };
  read.on_data = [&](const uint8_t* data, size_t size) {
    re.data(data, size);
    stop_when_done();
  };
  read.after_member = [&](const EntryHeader& h) {
    re.member_done(h);
    stop_when_done();
  };
  RunResult result = read_archive_with(read, nullptr);
  if (cancelled(kept.control)) return false;
  if (!re.problem.empty()) problem = re.problem;
  else if (!result.ok) problem = result.problems.empty() ? "cannot read its members" : result.problems.front();
  else if (!re.finished()) problem = "its streams ended before their members";
  return problem.empty();
}

}  // namespace

bool read_stored_header(File& old, const StoredEntry& e, EntryHeader& h) {
  std::vector<uint8_t> raw(static_cast<size_t>(e.data_offset - e.offset));
  size_t needed = 0;
  std::string ignored;
  return old.read_at(e.offset, raw.data(), raw.size()) &&
         decode_header(raw.data(), raw.size(), h, needed, ignored) == DecodeStatus::OK;
}

bool write_kept_entries(const KeptEntries& kept, ArchiveOutput& out, std::string& problem, bool& was_cancelled) {
  const std::vector<StoredEntry>& entries = *kept.entries;
  File old;
  if (!old.open_read(kept.archive_path)) {
    problem = "cannot open " + kept.archive_path + ": " + last_error_text();
    return false;
  }
  Figures figures{kept.control, &kept.progress};
  Copier copier(old, out, figures);
  size_t next_rewrite = 0;
  for (const StreamSpan& span : kept.streams) {
    const CopyRewrite* rewrite = nullptr;
    if (kept.rewrites && next_rewrite < kept.rewrites->size() && (*kept.rewrites)[next_rewrite].entry == span.first)
      rewrite = &(*kept.rewrites)[next_rewrite++];
    if (rewrite) {
      copier.stretches.push_back(Stretch{entries[span.first].offset, 0, rewrite});
      figures.total += rewrite->data_size;
    } else if (span.kept == span.count) {
      const StoredEntry& last = entries[span.first + span.count - 1];
      int64_t from = entries[span.first].offset;
      int64_t to = last.data_offset + static_cast<int64_t>(last.header.compressed_size);
      auto& stretches = copier.stretches;
      if (!stretches.empty() && !stretches.back().rewrite && stretches.back().at + stretches.back().length == from)
        stretches.back().length += to - from;
      else
        stretches.push_back(Stretch{from, to - from, nullptr});
      figures.total += to - from;
    } else if (span.kept > 0) {
      for (size_t i = span.first; i < span.first + span.count; ++i) figures.total += entries[i].header.size;
    }
  }
  if (kept.control) kept.control->total.store(figures.total);
  Reencoder re(kept, old, out, copier, figures);
  bool ok = re.idle() || decode_streams(re, kept, problem);
  ok = ok && copier.copy_until(INT64_MAX, problem);
  was_cancelled = cancelled(kept.control);
  if (!ok && !was_cancelled && problem.empty()) problem = write_problem();
  return ok && !was_cancelled;
}

bool ArchiveOutput::write(const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  if (buffer_.size() + size > OUTPUT_CHUNK && !flush()) return false;
  if (size >= OUTPUT_CHUNK) {
    flushed_ += static_cast<int64_t>(size);
    return file_.write(p, size);
  }
  buffer_.insert(buffer_.end(), p, p + size);
  return true;
}

bool ArchiveOutput::patch(int64_t position, const std::vector<uint8_t>& bytes) {
  if (position >= flushed_) {
    std::copy(bytes.begin(), bytes.end(), buffer_.begin() + (position - flushed_));
    return true;
  }
  return flush() && file_.seek(position) && file_.write(bytes.data(), bytes.size()) && file_.seek(flushed_);
}

bool ArchiveOutput::flush() {
  bool ok = buffer_.empty() || file_.write(buffer_.data(), buffer_.size());
  flushed_ += static_cast<int64_t>(buffer_.size());
  buffer_.clear();
  return ok;
}

bool ArchiveOutput::finish() { return flush() && file_.set_length(flushed_); }
