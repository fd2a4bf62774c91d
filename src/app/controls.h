// The main window and its thirteen controls as data: start-up creates them from this table,
// in its order; the backends know nothing of the layout.
#pragma once

#include <array>
#include <cstdint>

#include "platform/window.h"

namespace twinrake {

// Control identifiers, fixed at creation; events carry them back.
inline constexpr int32_t BtnAddFolder = 0;
inline constexpr int32_t LblAllFiles = 1;
inline constexpr int32_t LstAllFiles = 2;
inline constexpr int32_t LblGroups = 3;
inline constexpr int32_t LstGroups = 4;
inline constexpr int32_t LblMembers = 5;
inline constexpr int32_t LstMembers = 6;
inline constexpr int32_t BtnDeleteMarked = 7;
inline constexpr int32_t BtnReset = 8;
inline constexpr int32_t BtnSearch = 9;
inline constexpr int32_t BtnDeleteGroup = 10;
inline constexpr int32_t PrgOverall = 100;
inline constexpr int32_t PrgFile = 101;

inline constexpr int32_t kMainWindowNumber = 0;
inline constexpr int32_t kClientWidth = 600;
inline constexpr int32_t kClientHeight = 300;
inline constexpr const char* kWindowTitle = "Twinrake";

struct ControlSpec {
    int32_t identifier;
    const char* name;
    platform::ControlKind kind;
    const char* caption;  // null for lists and progress bars
    platform::Box box;
};

using platform::ControlKind;

// In creation order, which is also the order of the Tab cycle.
inline constexpr std::array<ControlSpec, 13> kControls{{
    {BtnAddFolder, "BtnAddFolder", ControlKind::PushButton, "Pfad hinzufügen", {0, 0, 195, 24}},
    {LblAllFiles, "LblAllFiles", ControlKind::Label, "Alle Dateien", {0, 25, 195, 20}},
    {LstAllFiles, "LstAllFiles", ControlKind::List, nullptr, {0, 45, 195, 225}},
    {BtnReset, "BtnReset", ControlKind::PushButton, "Zurücksetzen", {0, 275, 195, 20}},
    {BtnSearch, "BtnSearch", ControlKind::PushButton, "Doppelte Dateien suchen", {200, 0, 368, 24}},
    {LblGroups, "LblGroups", ControlKind::Label, "Dateien mit gleichem Inhalt", {200, 25, 368, 20}},
    {LstGroups, "LstGroups", ControlKind::List, nullptr, {200, 45, 368, 100}},
    {LblMembers, "LblMembers", ControlKind::Label, "Doppelte Dateien:", {200, 150, 398, 20}},
    {LstMembers, "LstMembers", ControlKind::List, nullptr, {200, 170, 398, 75}},
    {BtnDeleteMarked,
     "BtnDeleteMarked",
     ControlKind::PushButton,
     "Lösche markierte Datei",
     {200, 250, 398, 20}},
    {BtnDeleteGroup,
     "BtnDeleteGroup",
     ControlKind::PushButton,
     "Lösche alle Dateien (mit Original)",
     {200, 275, 398, 20}},
    {PrgOverall, "PrgOverall", ControlKind::ProgressBar, nullptr, {573, 75, 25, 70}},
    {PrgFile, "PrgFile", ControlKind::ProgressBar, nullptr, {573, 45, 25, 25}},
}};

}  // namespace twinrake
