// The floor of the site benchmark: writes one file per size listed in a file
// (one decimal size a line) into a folder, each with a single write, as a
// plain program producing the same number of bytes in the same files would.
//
//   quillant-floor-bench SIZES_FILE FOLDER
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: quillant-floor-bench SIZES_FILE FOLDER\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  std::vector<size_t> sizes;
  for (size_t n; in >> n;) sizes.push_back(n);
  std::string data;
  for (size_t i = 0; i < sizes.size(); ++i) {
    // Page-like bytes, rebuilt per file as a generator would fill a buffer.
    data.assign(sizes[i], 'x');
    const std::string path = std::string(argv[2]) + "/page" + std::to_string(i) + ".htm";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(data.data(), 1, data.size(), f) != data.size() || std::fclose(f) != 0) {
      std::cerr << "cannot write " << path << "\n";
      return 1;
    }
  }
  std::cout << sizes.size() << " files\n";
  return 0;
}
