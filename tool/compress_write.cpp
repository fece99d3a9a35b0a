// Writing an archive, the writing: finished units go out in their order behind the stub and the
// kept members, and the whole archive takes the old one's place.
#include <zlib.h>

#include <algorithm>

#include "archive_commit.h"
#include "compress_stages.h"

namespace compression {

bool BufferedWriter::write(const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  if (buffer_.size() + size > WRITE_CHUNK && !flush()) return false;
  if (size >= WRITE_CHUNK) {
    written_ += size;
    return file_.write(p, size);
  }
  buffer_.insert(buffer_.end(), p, p + size);
  written_ += size;
  return true;
}

bool BufferedWriter::flush() {
  bool ok = buffer_.empty() || file_.write(buffer_.data(), buffer_.size());
  buffer_.clear();
  return ok;
}

bool BufferedWriter::patch(int64_t position, const std::vector<uint8_t>& bytes) {
  return flush() && file_.seek(position) && file_.write(bytes.data(), bytes.size()) &&
         file_.seek(static_cast<int64_t>(written_));
}

bool BufferedWriter::rewind(int64_t position) {
  if (!flush() || !file_.seek(position)) return false;
  written_ = static_cast<uint64_t>(position);
  return true;
}

bool BufferedWriter::finish() { return flush() && file_.set_length(static_cast<int64_t>(written_)); }

namespace {

bool copy_existing(const Existing& existing, BufferedWriter& out, RunResult& result, RunControl* control) {
  if (existing.stretches.empty()) return true;
  File old;
  std::vector<uint8_t> buffer(WRITE_CHUNK);
  bool ok = old.open_read(existing.path);
  for (auto [offset, length] : existing.stretches) {
    while (ok && length > 0 && !cancelled(control)) {
      size_t n = static_cast<size_t>(std::min<int64_t>(length, static_cast<int64_t>(buffer.size())));
      ok = old.read_at(offset, buffer.data(), n) && out.write(buffer.data(), n);
      offset += static_cast<int64_t>(n);
      length -= static_cast<int64_t>(n);
      add_progress(control, static_cast<int64_t>(n));
    }
  }
  if (cancelled(control)) {
    result.cancelled = true;
    return false;
  }
  if (!ok) {
    result.problems.push_back("cannot copy the members of " + existing.path);
    return false;
  }
  result.members += existing.members;
  result.bytes_in += existing.bytes_in;
  return true;
}

bool write_stub(BufferedWriter& out, const CompressJob& job, std::string& problem) {
  if (job.stub_size > static_cast<size_t>(INDEX_STUB_SIZE)) {
    problem = "self-extracting stub is larger than its slot";
    return false;
  }
  std::vector<uint8_t> image(static_cast<size_t>(INDEX_STUB_SIZE), 0);
  if (job.stub_size) std::copy(job.stub, job.stub + job.stub_size, image.begin());
  if (!out.write(image.data(), image.size())) {
    problem = "cannot write the archive";
    return false;
  }
  return true;
}

// The entry of a file cut into pieces: its header goes first with sizes still unknown and is
// rewritten once the last piece is in.
struct PieceEntry {
  EntryHeader header;
  int64_t header_position = -1;
};

// Writes the file stored from the entry's header on, over its pieces; the bytes must be the ones
// the pieces were made of.
bool store_over_pieces(const Source& source, PieceEntry& entry, BufferedWriter& out, RunResult& result) {
  EntryHeader& h = entry.header;
  h.method = METHOD_STORE;
  h.dictionary = 0;
  h.compressed_size = static_cast<uint64_t>(h.size);
  h.entry_length = header_size(h) + h.size;
  std::vector<uint8_t> header = encode_header(h);
  File file;
  std::string problem;
  if (!file.open_source(source.path, problem)) {
    result.problems.push_back(problem);
    return false;
  }
  if (!out.rewind(entry.header_position) || !out.write(header.data(), header.size())) return false;
  std::vector<uint8_t> buffer(READ_CHUNK);
  uint32_t crc = crc32(0, nullptr, 0);
  int64_t left = h.size;
  while (left > 0) {
    int64_t got = file.read(buffer.data(), static_cast<size_t>(std::min<int64_t>(left, buffer.size())));
    if (got <= 0) break;
    crc = crc32_z(crc, buffer.data(), static_cast<size_t>(got));
    if (!out.write(buffer.data(), static_cast<size_t>(got))) return false;
    left -= got;
  }
  if (left != 0 || crc != h.crc) {
    result.problems.push_back(source.path + " changed while it was read");
    return false;
  }
  return true;
}

bool write_piece(Unit& unit, const Source& source, uint8_t method, PieceEntry& entry, BufferedWriter& out,
                 RunResult& result) {
  EntryHeader& h = entry.header;
  if (unit.piece_offset == 0) {
    h = EntryHeader();
    h.name = source.stored.name;
    h.folder = source.stored.folder;
    h.mtime_ns = source.info.mtime_ns;
    h.attributes = source.info.attributes;
    h.unix_mode = source.info.unix_mode;
    h.method = method;
    h.flags = source.name_flags;
    h.dictionary = unit.dictionary;  // the same for every piece
    h.crc = crc32(0, nullptr, 0);
    entry.header_position = out.written();
    std::vector<uint8_t> placeholder = encode_header(h);
    if (!out.write(placeholder.data(), placeholder.size())) return false;
  }
  h.crc = static_cast<uint32_t>(crc32_combine(h.crc, unit.piece_crc, unit.piece_size));
  h.size += unit.piece_size;
  h.compressed_size += unit.sink->total();
  if (!unit.sink->copy_to(out, unit.sink->total())) return false;
  if (!unit.last_piece) return true;
  result.members++;
  result.bytes_in += h.size;
  // Pieces that came out no smaller than the file are written over with the file, stored.
  if (h.method != METHOD_STORE && h.compressed_size >= static_cast<uint64_t>(h.size))
    return store_over_pieces(source, entry, out, result);
  h.entry_length = header_size(h) + static_cast<int64_t>(h.compressed_size);
  return out.patch(entry.header_position, encode_header(h));
}

bool write_units(std::vector<Unit>& units, const std::vector<Source>& sources, uint8_t piece_method,
                 const CompressJob& job, Schedule& schedule, BufferedWriter& out, RunResult& result,
                 std::vector<WrittenData>& recorded) {
  PieceEntry piece_entry;
  int64_t total = 0, done = 0;
  for (const Source& s : sources) total += s.info.size;
  for (size_t i = 0; i < units.size(); ++i) {
    Unit& unit = units[i];
    {
      std::unique_lock<std::mutex> guard(schedule.lock);
      schedule.changed.wait(guard, [&] { return unit.done; });
    }
    if (!unit.problem.empty()) {
      if (cancelled(job.control)) result.cancelled = true;
      else result.problems.push_back(unit.problem);
      return false;
    }
    // A primed block decodes only after the very bytes it was primed with.
    if (unit.history_size > 0 && (i == 0 || units[i - 1].tail_size != unit.history_size ||
                                  units[i - 1].tail_crc != unit.history_crc)) {
      const Source& primed_from = sources[unit.piece_offset > 0 ? unit.first : unit.first - 1];
      result.problems.push_back(primed_from.path + " changed while it was read");
      return false;
    }
    bool written = true;
    if (unit.piece_offset >= 0) {
      written = write_piece(unit, sources[unit.first], piece_method, piece_entry, out, result);
      recorded[unit.first] = WrittenData{piece_entry.header.size, piece_entry.header.crc};
    } else {
      for (size_t k = 0; k < unit.entries.size(); ++k) {
        EntryHeader& h = unit.entries[k];
        recorded[unit.first + k] = WrittenData{h.size, h.crc};
        h.entry_length = header_size(h) + static_cast<int64_t>(h.compressed_size);
        std::vector<uint8_t> bytes = encode_header(h);
        written = written && out.write(bytes.data(), bytes.size()) && unit.sink->copy_to(out, h.compressed_size);
        result.members++;
        result.bytes_in += h.size;
      }
    }
    if (!written) {
      result.problems.push_back("cannot write the archive");
      return false;
    }
    done += unit_input_size(unit, sources);
    if (job.progress) job.progress(done, total);
    unit.sink.reset();
    {
      std::lock_guard<std::mutex> guard(schedule.lock);
      schedule.next_write = i + 1;
    }
    schedule.changed.notify_all();
  }
  return true;
}

// The stub, the kept members and the units, each unit as the encoders finish it, then the copies.
bool write_contents(const CompressJob& job, const std::vector<Source>& sources, const std::vector<Copy>& copies,
                    const Existing& existing, const EncodingMethod& method, std::vector<Unit>& units, int threads,
                    BufferedWriter& out, RunResult& result) {
  std::string problem;
  bool ok = !job.self_extracting || write_stub(out, job, problem);
  if (!ok) result.problems.push_back(problem);
  if (job.control) job.control->total.store(run_total(sources, existing));
  ok = ok && copy_existing(existing, out, result, job.control);
  Schedule schedule;
  std::vector<std::thread> pool;
  if (ok) pool = start_encoders(std::min<int>(threads, static_cast<int>(units.size())), units, sources, method,
                                schedule, job);
  std::vector<WrittenData> recorded(sources.size());
  ok = ok && write_units(units, sources, method.method(), job, schedule, out, result, recorded);
  stop_encoders(schedule, pool);
  return ok && write_copies(copies, sources, recorded, out, result);
}

}  // namespace

void write_archive(const CompressJob& job, const std::vector<Source>& sources, const std::vector<Copy>& copies,
                   const Existing& existing, const EncodingMethod& method, std::vector<Unit>& units, int threads,
                   RunResult& result) {
  // Unpredictable and created exclusively: a failed run removes only what it made itself.
  std::string token = random_token();
  std::string temp = job.archive_path + ".vantor-" + token + ".tmp";
  Budget budget;
  budget.limit = std::max<int64_t>(job.memory_budget, 1 << 20);
  for (size_t i = 0; i < units.size(); ++i)
    units[i].sink = std::make_unique<Sink>(budget, temp + "." + std::to_string(i));

  Replacement replacement;
  if (!replacement.create(job.archive_path, token)) {
    units.clear();  // their sinks count on the budget
    result.ok = false;
    result.problems.push_back("cannot create " + temp + ": " + last_error_text());
    return;
  }
  BufferedWriter out(replacement.file());
  bool ok = write_contents(job, sources, copies, existing, method, units, threads, out, result);
  units.clear();

  if (ok && !out.finish()) {
    ok = false;
    result.problems.push_back("cannot write the archive");
  }
  result.bytes_out = out.written();
  // The archive replaced keeps its Mark of the Web: a downloaded archive stays one.
  std::string zone_mark = ok ? read_zone_mark(job.archive_path) : std::string();
  // On the disk before it takes the old one's place; otherwise the replacement is discarded.
  std::string problem;
  if (ok && !replacement.commit(problem)) {
    ok = false;
    result.problems.push_back(problem);
  }
  if (ok) write_zone_mark(job.archive_path, zone_mark);
  result.ok = ok;
}

}  // namespace compression
