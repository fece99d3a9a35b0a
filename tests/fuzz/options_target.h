// One fuzz input through the archiver's command line: the program token stripped, the
// parameters split and parsed. Shared by the libFuzzer harness and the native corpus replay.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "options.h"

// True when every invariant held: no argument keeps a quote, a refusal has a reason, and
// accepted options lie in their ranges with what their command needs.
inline bool options_fuzz_one(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args = split_parameters(parameters_after_program(text));
  for (const std::string& arg : args)
    if (arg.find('"') != std::string::npos) return false;
  Options o;
  std::string problem;
  if (!parse_options(args, o, problem)) return !problem.empty();
  if (o.method < 0 || o.method > 3 || o.window_position < 0 || o.window_position > 7) return false;
  if (o.threads < 0 || o.threads > 64 || o.buffer_mb < 1 || o.buffer_mb > 4096) return false;
  switch (o.command) {
    case Command::ADD: return o.list_file.empty() ? !o.sources.empty() && !o.archive.empty() : o.sources.empty();
    case Command::NONE: return false;
    default: return !o.archive.empty() && o.sources.empty() && o.list_file.empty() && !o.self_extracting;
  }
}
