// The floor under opening a large archive: creating N empty files in F folders natively.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  int files = argc > 1 ? std::atoi(argv[1]) : 100000;
  int folders = argc > 2 ? std::atoi(argv[2]) : 1000;
  std::string root = (argc > 3 ? std::string(argv[3]) : std::filesystem::temp_directory_path().string()) +
                     "/vantor_floor_bench/";
  std::filesystem::remove_all(root);
  auto start = std::chrono::steady_clock::now();
  mkdir(root.c_str(), 0755);
  for (int f = 0; f < folders; ++f) mkdir((root + "folder" + std::to_string(f)).c_str(), 0755);
  for (int i = 0; i < files; ++i) {
    std::string path = root + "folder" + std::to_string(i % folders) + "/member" + std::to_string(i) + ".dat";
    if (FILE* out = std::fopen(path.c_str(), "wb")) std::fclose(out);
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.2f\n", seconds);
  std::filesystem::remove_all(root);
  return 0;
}
