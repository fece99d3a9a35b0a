// Writing an archive, the encoding: worker threads take units in order and compress each into
// its sink through the codec of the run's method.
#include <zlib.h>

#include <algorithm>

#include "codec.h"
#include "compress_stages.h"

namespace compression {

bool Sink::write(const uint8_t* data, size_t size) {
  total_ += size;
  if (!spilling_ && budget_.take(size)) {
    memory_.insert(memory_.end(), data, data + size);
    return true;
  }
  if (!spilling_) {
    if (!spill_.create_new(spill_path_)) return false;
    spilling_ = true;
  }
  return spill_.write(data, size);
}

bool Sink::copy_to(BufferedWriter& out, uint64_t size) {
  while (size > 0 && read_pos_ < memory_.size()) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(size, memory_.size() - read_pos_));
    if (!out.write(memory_.data() + read_pos_, n)) return false;
    read_pos_ += n;
    size -= n;
  }
  if (size == 0) return true;
  if (!spill_.is_open() && !spill_.open_read(spill_path_)) return false;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(size, WRITE_CHUNK)));
  while (size > 0) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(size, buffer.size()));
    int64_t got = spill_.read(buffer.data(), n);
    if (got <= 0 || !out.write(buffer.data(), static_cast<size_t>(got))) return false;
    size -= static_cast<uint64_t>(got);
  }
  return true;
}

void Sink::reset() {
  release();
  total_ = 0;
  read_pos_ = 0;
}

void Sink::release() {
  budget_.in_memory.fetch_sub(static_cast<int64_t>(memory_.size()));
  std::vector<uint8_t>().swap(memory_);
  spill_.close();
  if (spilling_) remove_file(spill_path_);
  spilling_ = false;
}

namespace {

constexpr size_t MAX_UNITS_AHEAD = 4096;

class Compressor {
 public:
  Compressor(const EncodingMethod& method, const CompressJob& job)
      : run_method_(method), control_(job.control), before_priming_(job.before_priming) {
    in_.resize(READ_CHUNK);
  }
  ~Compressor() {
    if (encoder_ && cancelled(control_)) encoder_->abandon();
  }

  void run(Unit& unit, const std::vector<Source>& sources) {
    // A thread holds one encoder at a time: the one for files compressed already or for text
    // replaces the run's own when its units come, as both at once could exceed the memory fitted.
    const EncodingMethod* wanted = unit.packed && run_method_.packed() ? run_method_.packed()
                                   : unit.text && run_method_.text() ? run_method_.text()
                                                                     : &run_method_;
    if (wanted != method_) {
      encoder_.reset();
      encoder_ = wanted->encoder();
      method_ = wanted;
    }
    if (!encoder_->ready()) {
      unit.problem = "out of memory for the compressor";
      return;
    }
    if (unit.piece_offset >= 0) {
      run_piece(unit, sources[unit.first].path);
      if (unit.problem.empty() && !unit.sink->finish())
        unit.problem = "cannot write a temporary file beside the archive";
      return;
    }
    encoder_->use_filter(sources[unit.first].filter, sources[unit.first].filter_distance);
    const int64_t planned = unit_input_size(unit, sources);
    const bool chained = unit.chain_size > 0, continues = unit.chain_offset > 0;
    if (continues) {
      if (!read_chain_history(unit, sources, unit.problem)) return;
      if (!encoder_->begin_continued(unit.chain_size, history_.data(), history_.size(), unit.problem)) return;
    } else if (!encoder_->begin(chained ? unit.chain_size : planned, unit.problem)) {
      return;
    }
    // A block the next one continues ends without closing the stream, and what the next one is
    // primed with is watched for as it passes.
    end_flush_ = unit.continued ? Flush::PIECE : Flush::FINISH;
    if (unit.continued)
      unit.tail_size = std::min<int64_t>(static_cast<int64_t>(encoder_->history(unit.chain_offset + planned)), planned);
    watch_tail(planned - unit.tail_size);
    int64_t read = 0;
    uint64_t chunk_start = 0;
    for (size_t i = 0; i < unit.count; ++i) {
      const Source& source = sources[unit.first + i];
      EntryHeader h;
      h.name = source.stored.name;
      h.folder = source.stored.folder;
      h.mtime_ns = source.info.mtime_ns;
      h.attributes = source.info.attributes;
      h.unix_mode = source.info.unix_mode;
      h.method = method_->method();
      h.flags = static_cast<uint8_t>(source.name_flags | (i > 0 || continues ? ENTRY_FLAG_SOLID_NEXT : 0));
      bool last = i + 1 == unit.count;
      if (!add_file(source.path, h, *unit.sink, last, unit.problem)) return;
      h.compressed_size = unit.sink->total() - chunk_start;
      // A member on its own that came out no smaller than it is goes in again, stored; one that
      // fit a single read was already decided in add_small.
      if (unit.count == 1 && !chained && h.method != METHOD_STORE &&
          h.compressed_size >= static_cast<uint64_t>(h.size) && !store_again(source.path, h, *unit.sink, unit.problem))
        return;
      read += h.size;
      // What the stream's decoder must know goes on its first entry.
      if (i == 0 && !continues && h.method == METHOD_LZMA2) {
        h.filter = source.filter;
        h.filter_distance = source.filter_distance;
        h.dictionary = encoder_->dictionary();
      }
      if (i == 0 && h.method == METHOD_PPMD) {
        h.ppmd_order = encoder_->model_order();
        h.ppmd_memory = encoder_->model_memory();
      }
      chunk_start = unit.sink->total();
      unit.entries.push_back(h);
    }
    unit.tail_crc = tail_crc_;
    if (unit.continued && read != planned) unit.problem = sources[unit.first].path + " changed while it was read";
    else if (!unit.sink->finish()) unit.problem = "cannot write a temporary file beside the archive";
  }

 private:
  // A piece is primed with what data the method wants from before it.
  void run_piece(Unit& unit, const std::string& path) {
    File file;
    if (!file.open_source(path, unit.problem)) return;
    size_t history = encoder_->history(unit.piece_offset);
    history_.resize(history);
    if (history > 0 && before_priming_) before_priming_(path);
    if (history > 0 && !file.read_at(unit.piece_offset - static_cast<int64_t>(history), history_.data(), history)) {
      unit.problem = "cannot read " + path;
      return;
    }
    unit.history_size = static_cast<int64_t>(history);
    unit.history_crc = static_cast<uint32_t>(crc32_z(crc32(0, nullptr, 0), history_.data(), history));
    if (!encoder_->begin_piece(unit.piece_length, history_.data(), history, unit.problem)) return;
    unit.dictionary = encoder_->dictionary();
    if (!unit.last_piece)
      unit.tail_size = static_cast<int64_t>(encoder_->history(unit.piece_offset + unit.piece_length));
    watch_tail(unit.piece_length - unit.tail_size);
    if (!file.seek(unit.piece_offset)) {
      unit.problem = "cannot read " + path;
      return;
    }
    uint32_t crc = crc32(0, nullptr, 0);
    int64_t left = unit.piece_length;
    for (;;) {
      size_t want = unit.last_piece ? in_.size() : static_cast<size_t>(std::min<int64_t>(left, in_.size()));
      int64_t got = want ? file.read(in_.data(), want) : 0;
      if (got < 0) {
        unit.problem = "cannot read " + path;
        return;
      }
      if (!count_read(got, unit.problem)) return;
      if (got == 0 && !unit.last_piece && left > 0) {
        unit.problem = path + " changed while it was read";
        return;
      }
      crc = crc32_z(crc, in_.data(), static_cast<size_t>(got));
      unit.piece_size += got;
      left -= got;
      watch(in_.data(), static_cast<size_t>(got));
      bool end = got == 0;
      Flush flush = !end ? Flush::NONE : unit.last_piece ? Flush::FINISH : Flush::PIECE;
      if (!emit(in_.data(), static_cast<size_t>(got), flush, *unit.sink, unit.problem)) return;
      if (end) break;
    }
    unit.piece_crc = crc;
    unit.tail_crc = tail_crc_;
  }

  // The history of a block that continues a stream: the last bytes of the files before it, as
  // planned (the previous block ends on the same bytes, which the writer checks).
  bool read_chain_history(Unit& unit, const std::vector<Source>& sources, std::string& problem) {
    size_t size = std::min<size_t>(encoder_->history(unit.chain_offset), static_cast<size_t>(unit.prior_size));
    history_.resize(size);
    size_t need = size;
    for (size_t at = unit.first; need > 0; ) {
      if (at == 0) {
        problem = "nothing to prime a continued stream with";
        return false;
      }
      const Source& s = sources[--at];
      size_t take = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(need), s.info.size));
      File file;
      if (take > 0 && before_priming_) before_priming_(s.path);
      if (take > 0 && !file.open_source(s.path, problem)) return false;
      if (take > 0 && !file.read_at(s.info.size - static_cast<int64_t>(take), history_.data() + need - take, take)) {
        problem = s.path + " changed while it was read";
        return false;
      }
      need -= take;
    }
    unit.history_size = static_cast<int64_t>(size);
    unit.history_crc = static_cast<uint32_t>(crc32_z(crc32(0, nullptr, 0), history_.data(), size));
    return true;
  }

  void watch_tail(int64_t from) {
    fed_ = 0;
    tail_from_ = from;
    tail_crc_ = static_cast<uint32_t>(crc32(0, nullptr, 0));
  }
  // Adds what of the bytes just fed lies in the watched tail to its CRC.
  void watch(const uint8_t* data, size_t size) {
    int64_t skip = std::clamp<int64_t>(tail_from_ - fed_, 0, static_cast<int64_t>(size));
    tail_crc_ = static_cast<uint32_t>(crc32_z(tail_crc_, data + skip, size - static_cast<size_t>(skip)));
    fed_ += static_cast<int64_t>(size);
  }

  bool add_file(const std::string& path, EntryHeader& h, Sink& sink, bool last, std::string& problem) {
    if (control_) control_->working_on(&path);
    File file;
    if (!file.open_source(path, problem)) return false;
    uint32_t crc = crc32(0, nullptr, 0);
    int64_t size = 0;
    bool first_read = true;
    for (;;) {
      int64_t got = file.read(in_.data(), in_.size());
      if (got < 0) {
        problem = "cannot read " + path;
        return false;
      }
      if (!count_read(got, problem)) return false;
      crc = crc32_z(crc, in_.data(), static_cast<size_t>(got));
      size += got;
      bool end = got == 0;
      if (first_read && method_->compresses() && static_cast<size_t>(got) < in_.size() &&
          !(h.flags & ENTRY_FLAG_SOLID_NEXT) && last && end_flush_ == Flush::FINISH) {
        // A file that fits one read: store it when compressing would not make it smaller.
        int64_t more = end ? 0 : file.read(in_.data() + got, 1);
        if (more == 0) return add_small(in_.data(), static_cast<size_t>(got), crc, h, sink, problem);
        if (more < 0) {
          problem = "cannot read " + path;
          return false;
        }
        crc = crc32_z(crc, in_.data() + got, 1);
        size += 1;
        got += 1;
      }
      first_read = false;
      watch(in_.data(), static_cast<size_t>(got));
      if (!emit(in_.data(), static_cast<size_t>(got), end && last ? end_flush_ : Flush::NONE, sink, problem))
        return false;
      if (end) break;
    }
    h.size = size;
    h.crc = crc;
    return true;
  }

  bool store_again(const std::string& path, EntryHeader& h, Sink& sink, std::string& problem) {
    sink.reset();
    File file;
    if (!file.open_source(path, problem)) return false;
    uint32_t crc = crc32(0, nullptr, 0);
    int64_t size = 0;
    for (int64_t got; (got = file.read(in_.data(), in_.size())) != 0;) {
      if (got < 0) {
        problem = "cannot read " + path;
        return false;
      }
      crc = crc32_z(crc, in_.data(), static_cast<size_t>(got));
      size += got;
      if (!write_sink(sink, in_.data(), static_cast<size_t>(got), problem)) return false;
    }
    h.method = METHOD_STORE;
    h.size = size;
    h.crc = crc;
    h.compressed_size = sink.total();
    return true;
  }

  bool add_small(const uint8_t* data, size_t size, uint32_t crc, EntryHeader& h, Sink& sink,
                 std::string& problem) {
    h.size = static_cast<int64_t>(size);
    h.crc = crc;
    if (!encoder_->compress_all(data, size, small_, problem)) return false;
    if (small_.size() >= size) {
      h.method = METHOD_STORE;
      return write_sink(sink, data, size, problem);
    }
    return write_sink(sink, small_.data(), small_.size(), problem);
  }

  bool emit(const uint8_t* data, size_t size, Flush flush, Sink& sink, std::string& problem) {
    // A stream's workers hand back output as they go: the place to see a cancel mid-stream.
    bool fed = encoder_->feed(
        data, size, flush, [&](const uint8_t* p, size_t n) { return !cancelled(control_) && sink.write(p, n); },
        problem);
    if (!fed && cancelled(control_)) problem = CANCELLED_PROBLEM;
    return fed;
  }

  // Counts a block read and checks, between blocks, whether the run was asked to stop.
  bool count_read(int64_t bytes, std::string& problem) {
    add_progress(control_, bytes);
    if (!cancelled(control_)) return true;
    problem = CANCELLED_PROBLEM;
    return false;
  }

  static bool write_sink(Sink& sink, const uint8_t* data, size_t size, std::string& problem) {
    if (sink.write(data, size)) return true;
    problem = "cannot write a temporary file beside the archive";
    return false;
  }

  const EncodingMethod& run_method_;
  const EncodingMethod* method_ = nullptr;  // the one encoder_ is of
  std::unique_ptr<Encoder> encoder_;
  RunControl* control_;
  const std::function<void(const std::string&)>& before_priming_;
  std::vector<uint8_t> in_, small_, history_;
  Flush end_flush_ = Flush::FINISH;
  int64_t fed_ = 0, tail_from_ = 0;
  uint32_t tail_crc_ = 0;
};

void worker(std::vector<Unit>& units, const std::vector<Source>& sources,
            const EncodingMethod& method, Schedule& schedule, const CompressJob& job) {
  RunControl* control = job.control;
  Compressor compressor(method, job);
  for (;;) {
    size_t index;
    {
      std::unique_lock<std::mutex> guard(schedule.lock);
      schedule.changed.wait(guard, [&] {
        return schedule.stop || schedule.next_unit >= units.size() ||
               schedule.next_unit < schedule.next_write + MAX_UNITS_AHEAD;
      });
      if (schedule.stop || schedule.next_unit >= units.size()) return;
      index = schedule.next_unit++;
    }
    if (cancelled(control)) units[index].problem = CANCELLED_PROBLEM;
    else compressor.run(units[index], sources);
    {
      std::lock_guard<std::mutex> guard(schedule.lock);
      units[index].done = true;
    }
    schedule.changed.notify_all();
  }
}

}  // namespace

std::vector<std::thread> start_encoders(int count, std::vector<Unit>& units, const std::vector<Source>& sources,
                                        const EncodingMethod& method, Schedule& schedule, const CompressJob& job) {
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t)
    threads.emplace_back(worker, std::ref(units), std::cref(sources), std::cref(method), std::ref(schedule),
                         std::cref(job));
  return threads;
}

void stop_encoders(Schedule& schedule, std::vector<std::thread>& threads) {
  {
    std::lock_guard<std::mutex> guard(schedule.lock);
    schedule.stop = true;
  }
  schedule.changed.notify_all();
  for (std::thread& t : threads) t.join();
}

}  // namespace compression
