#include "operations/archiver_contract.h"

#include <cstdint>

namespace {

const char DQ = '"';

void put_integer(std::string& out, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void put_text(std::string& out, const std::string& text) {
  put_integer(out, static_cast<uint32_t>(text.size()), 4);
  out += text;
}

std::string n(int value) { return std::to_string(value); }

}  // namespace

std::string archiver_program_path(const std::string& program_folder) {
  return program_folder + "\\" + "vantor.exe";
}

std::string compress_parameters(const std::string& self_extraction, const std::string& recursive,
                                int buffer_megabytes, int dictionary_position, int task_count,
                                const std::string& solid, const std::string& ultra, int method,
                                const std::string& program_folder) {
  return " a -y " + self_extraction + " " + recursive + " -b" + n(buffer_megabytes) + " -k" +
         n(dictionary_position) + " -t" + n(task_count) + " " + solid + "  -m" + ultra + n(method) +
         " x " + DQ + program_folder + "\\master.lis";
}

std::string add_listed_parameters(int buffer_megabytes, int dictionary_position, int task_count,
                                  const std::string& solid, const std::string& ultra, int method,
                                  const std::string& list_file) {
  return " a -y  -r  -b" + n(buffer_megabytes) + " -k" + n(dictionary_position) + " -t" + n(task_count) + " " +
         solid + "  -m" + ultra + n(method) + " x " + DQ + list_file;
}

std::string extract_marked_parameters(int task_count, const std::string& archive,
                                      const std::string& destination) {
  return " x -t" + n(task_count) + "  -e " + DQ + archive + DQ + " " + DQ + destination;
}

std::string extract_member_parameters(int task_count, const std::string& archive,
                                      const std::string& launch_root) {
  return " x -e -t" + n(task_count) + " " + DQ + archive + DQ + " " + DQ + launch_root;
}

std::string extract_all_parameters(int task_count, const std::string& archive,
                                   const std::string& launch_root) {
  return " x  -t" + n(task_count) + " " + DQ + archive + DQ + " " + DQ + launch_root;
}

std::string verify_parameters(const std::string& archive) { return " t " + std::string(1, DQ) + archive; }

std::string delete_parameters(const std::string& list_file) { return " d x " + std::string(1, DQ) + list_file; }

std::string list_parameters(const std::string& archive) { return " l -p " + std::string(1, DQ) + archive; }

std::string extract_listed_parameters(int task_count, const std::string& list_file, const std::string& destination) {
  return " x -t" + n(task_count) + " x " + DQ + list_file + DQ + " " + DQ + destination;
}

std::string list_file_bytes(const std::string& archive_path,
                            const std::vector<std::string>& selection_list, int selection_count) {
  int count = selection_count < 0 ? 0 : selection_count;
  int present = selection_list.empty() ? 0 : static_cast<int>(selection_list.size()) - 1;
  if (count > present) count = present;
  std::string out;
  put_integer(out, static_cast<uint64_t>(count), 8);
  put_integer(out, static_cast<uint64_t>(count), 8);
  put_text(out, archive_path);
  put_integer(out, static_cast<uint32_t>(count), 4);
  for (int slot = 1; slot <= count; ++slot) put_text(out, selection_list[static_cast<size_t>(slot)]);
  return out;
}
