// Writing an archive, the plan: the order of the sources and the units work is cut into.
#include <algorithm>

#include "compress_stages.h"

namespace compression {
namespace {

std::string extension_of(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

// Neighbouring solid blocks without a filter (whose state runs through a stream) form one stream.
void link_chains(std::vector<Unit>& units, const std::vector<Source>& sources) {
  auto chainable = [&](const Unit& u) {
    return u.piece_offset < 0 && !u.packed && !u.text && sources[u.first].filter == FILTER_NONE;
  };
  for (size_t i = 1; i < units.size(); ++i) {
    Unit& before = units[i - 1];
    if (!chainable(before) || !chainable(units[i])) continue;
    before.continued = true;
    units[i].prior_size = unit_input_size(before, sources);
    units[i].chain_offset = before.chain_offset + units[i].prior_size;
  }
  // No match reaches further back than a block and the one before it: that is the stream's
  // dictionary, and smaller ones are faster to search.
  for (size_t end = units.size(); end > 0;) {
    size_t first = end - 1;
    while (first > 0 && units[first - 1].continued) --first;
    int64_t reach = 0;
    for (size_t k = first; k < end; ++k) reach = std::max(reach, units[k].prior_size + unit_input_size(units[k], sources));
    for (size_t k = first; k < end && end - first > 1; ++k) units[k].chain_size = reach;
    end = first;
  }
}

}  // namespace

void order_for_solid(std::vector<Source>& sources) {
  std::stable_sort(sources.begin(), sources.end(), [](const Source& a, const Source& b) {
    if (a.packed != b.packed) return b.packed;
    if (a.text != b.text) return a.text;
    if (a.filter != b.filter) return a.filter < b.filter;
    if (a.filter_distance != b.filter_distance) return a.filter_distance < b.filter_distance;
    int by_kind = extension_of(a.stored.name).compare(extension_of(b.stored.name));
    if (by_kind != 0) return by_kind < 0;
    int by_name = a.stored.name.compare(b.stored.name);
    if (by_name != 0) return by_name < 0;
    return a.stored.folder < b.stored.folder;
  });
}

int64_t unit_input_size(const Unit& unit, const std::vector<Source>& sources) {
  if (unit.piece_offset >= 0) return unit.piece_length;
  int64_t total = 0;
  for (size_t i = 0; i < unit.count; ++i) total += sources[unit.first + i].info.size;
  return total;
}

int64_t run_total(const std::vector<Source>& sources, const Existing& existing) {
  int64_t total = 0;
  for (const Source& s : sources) total += s.info.size;
  for (auto stretch : existing.stretches) total += stretch.second;
  return total;
}

std::vector<Unit> plan_units(const std::vector<Source>& sources, const EncodingMethod& method, bool solid,
                             int threads) {
  // Units are written in order: a large file's pieces follow one another.
  std::vector<Unit> units;
  solid = solid && method.compresses();
  const bool by_packing = method.packed() != nullptr;
  const bool by_text = method.text() != nullptr;
  int64_t total = 0;
  for (const Source& s : sources) total += s.info.size;
  // Solid blocks small enough that every thread gets several, large enough to share context;
  // for a method that filters, two per thread, as its context reaches much further back (sized
  // by the whole run: the files compressed already, whose own coder is many times faster, fill
  // the gaps between threads); or one stream, whose own workers share the work and the whole window.
  int64_t block = std::clamp<int64_t>(total / (4 * threads), 4 << 20, 256 << 20);
  if (method.filters()) block = std::clamp<int64_t>((total + 2 * threads - 1) / (2 * threads), 8 << 20, 1 << 30);
  if (method.one_stream()) block = INT64_MAX;
  // The files compressed already share one stream: it is quick, and its repeats are far apart.
  const int64_t packed_block = int64_t(1) << 30;
  const int64_t piece_size = method.piece_size();
  int64_t in_block = 0;
  for (size_t i = 0; i < sources.size(); ++i) {
    int64_t size = sources[i].info.size;
    const bool packed = by_packing && sources[i].packed;
    const bool text = by_text && sources[i].text;
    // A file larger than a solid block gains nothing from sharing a stream; cut it instead. A
    // filter's state runs through the whole file, so a filtered one is never cut; nor is one
    // compressed already, which its coder passes through quickly whole, nor text, whose model
    // would start afresh in each piece.
    if ((!solid || size > block) && threads > 1 && size > 2 * piece_size && sources[i].filter == FILTER_NONE &&
        !packed && !text) {
      for (int64_t offset = 0; offset < size; offset += piece_size) {
        Unit u;
        u.first = i;
        u.count = 1;
        u.piece_offset = offset;
        u.piece_length = std::min(piece_size, size - offset);
        u.last_piece = offset + piece_size >= size;
        units.push_back(std::move(u));
      }
      in_block = block;
      continue;
    }
    const Source& previous = sources[i > 0 ? i - 1 : 0];
    bool same_filter = previous.filter == sources[i].filter && previous.filter_distance == sources[i].filter_distance &&
                       previous.packed == sources[i].packed && previous.text == sources[i].text;
    if (solid && !units.empty() && in_block < (packed ? packed_block : block) && units.back().piece_offset < 0 &&
        same_filter) {
      units.back().count++;
    } else {
      Unit u;
      u.first = i;
      u.count = 1;
      u.packed = packed;
      u.text = text;
      units.push_back(std::move(u));
      in_block = 0;
    }
    in_block += sources[i].info.size;
  }
  if (solid && method.chains()) link_chains(units, sources);
  return units;
}

}  // namespace compression
