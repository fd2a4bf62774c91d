// Not part of the program: times filling the Win32 window's "Alle Dateien" list box with N
// lines, line by line (AppendLine, as the views were filled before batches) and in one batch
// (AppendLines), alternately, each from the clear until the list has painted. Prints one line
// per fill and the medians. Built and run under Wine by win32_list_fill.sh.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/window.h"

namespace {

constexpr int32_t kList = 2;  // LstAllFiles, with its box

// Lines like those of a real catalogue: "name (size)", reproducible.
std::vector<std::string> MakeLines(int count) {
    static const char* const kStems[] = {"IMG_",         "DSC",   "Invoice ",  "notes",
                                         "report_2019_", "track", "budget 20", "Letter to Anna",
                                         "main",         "index"};
    static const char* const kExtensions[] = {".jpg", ".JPG",  ".pdf",  ".txt",  ".cpp",
                                              ".mp3", ".xlsx", ".docx", ".html", ".py"};
    std::vector<std::string> lines;
    lines.reserve(static_cast<size_t>(count));
    uint32_t state = 20240611;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (int i = 0; i < count; ++i) {
        std::string line = kStems[next() % 10];
        line += std::to_string(next() % 10000);
        line += kExtensions[next() % 10];
        line += " (" + std::to_string(next() % 20000) + ")";
        lines.push_back(std::move(line));
    }
    return lines;
}

// Runs the messages the fill left, painting included.
void Settle(HWND list) {
    UpdateWindow(list);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

double Fill(HWND list, const std::vector<std::string>& lines, bool batch) {
    auto start = std::chrono::steady_clock::now();
    platform::ClearLines(kList);
    if (batch) {
        platform::LineBatch all;
        for (const std::string& line : lines) {
            all.Add(line);
        }
        platform::AppendLines(kList, std::move(all));
    } else {
        for (const std::string& line : lines) {
            platform::AppendLine(kList, line);
        }
    }
    Settle(list);
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (platform::CountLines(kList) != static_cast<int32_t>(lines.size())) {
        std::fprintf(stderr, "wrong count %d\n", platform::CountLines(kList));
        std::exit(1);
    }
    return took.count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 200000;
    int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    // "line", "batch" or both: line by line takes minutes for a few ten thousand lines here.
    std::string ways = argc > 3 ? argv[3] : "both";
    bool byLine = ways != "batch";
    bool byBatch = ways != "line";
    platform::MainWindow* window =
        platform::CreateMainWindow(0, 600, 300, platform::kMainWindowStyle, true, "Twinrake");
    if (window == nullptr || !platform::SetControlParent(window)) {
        return 1;
    }
    platform::CreateControl(kList, platform::ControlKind::List, {0, 45, 195, 225}, nullptr, 0, 0);
    HWND list = GetDlgItem(FindWindowA("WindowClass_0", nullptr), kList);
    Settle(list);
    std::vector<std::string> lines = MakeLines(count);
    std::vector<double> single;
    std::vector<double> batched;
    for (int run = 0; run < runs; ++run) {
        single.push_back(byLine ? Fill(list, lines, false) : 0);
        batched.push_back(byBatch ? Fill(list, lines, true) : 0);
        std::printf("run %d: line by line %.3f s, one batch %.3f s\n", run + 1, single.back(),
                    batched.back());
        std::fflush(stdout);
    }
    std::printf("%d lines, median of %d: line by line %.3f s, one batch %.3f s (0: not run)\n",
                count, runs, Median(single), Median(batched));
    platform::CloseMainWindow(0);
    return 0;
}
