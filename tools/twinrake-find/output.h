// Standard output, written in large blocks. The first failure is kept and ends all writing.
#pragma once

#include <string_view>

namespace cli {

class Output {
  public:
    Output();
    void Write(std::string_view text);
    // False once a write failed (standard output is written in large blocks, so this shows
    // some lines after the reader went away).
    bool Good() const { return error_ == 0; }
    // Flushes and closes standard output; false, after saying why, when any write failed.
    bool Finish();

  private:
    void Failed();
    int error_ = 0;
};

}  // namespace cli
