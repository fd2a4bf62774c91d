// Standard output, written in large blocks. The first failure is kept and ends all writing.
#pragma once

#include <string_view>

namespace cli {

class Output {
  public:
    Output();
    void Write(std::string_view text);
    // Hands what was written so far to the system; false once any write failed.
    bool Flush();
    // Flushes and closes standard output; false, after saying why, when any write failed.
    bool Finish();

  private:
    void Failed();
    int error_ = 0;
};

}  // namespace cli
