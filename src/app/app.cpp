#include "app/app.h"

#include "app/controls.h"
#include "app/window_progress.h"
#include "catalogue/scan.h"
#include "detect/search.h"
#include "platform/files.h"
#include "platform/window.h"
#include "results/deletion.h"
#include "results/views.h"

namespace twinrake {

const char* const kCreditsText =
    ".-´¯`- Twinrake -´¯`-.\n\n"
    "Danke fürs Aufräumen! Das Twinrake-Team";

namespace {

// What the window shows of long commands; there is one window.
WindowProgress& TheWindowProgress() {
    static WindowProgress progress;
    return progress;
}

}  // namespace

bool StartUp(AppState& state) {
    // Unknown, it stays empty: relative folders then stay relative to wherever we are.
    (void)platform::ProgramDirectory(state.programDirectory);
    // The search holds many files open at once; the limit in force decides how many.
    platform::RaiseOpenFileLimit();
    platform::MainWindow* window =
        platform::CreateMainWindow(kMainWindowNumber, kClientWidth, kClientHeight,
                                   platform::kMainWindowStyle, true, kWindowTitle);
    if (window == nullptr || !platform::SetControlParent(window)) {
        return false;
    }
    TheWindowProgress().Reset();
    state.progress = &TheWindowProgress();
    for (const ControlSpec& control : kControls) {
        bool isBar = control.kind == ControlKind::ProgressBar;
        platform::CreateControl(control.identifier, control.kind, control.box, control.caption, 0,
                                isBar ? 100 : 0);
    }
    return true;
}

void ApplyControlStates(const AppState& state) {
    auto enable = [](int32_t control) { platform::EnableControl(control, false); };
    auto disable = [](int32_t control) { platform::EnableControl(control, true); };
    if (state.fileCatalogue.Empty()) {
        // LstGroups keeps whatever state it had.
        disable(BtnSearch);
        disable(LstMembers);
        disable(BtnDeleteMarked);
        disable(BtnDeleteGroup);
        disable(BtnReset);
    } else if (state.groupList.empty()) {
        disable(LstGroups);
        disable(LstMembers);
        disable(BtnDeleteMarked);
        disable(BtnDeleteGroup);
        enable(BtnSearch);
        enable(BtnReset);
    } else if (platform::CountLines(LstMembers) > 0) {
        enable(LstMembers);
        enable(LstGroups);
        enable(BtnDeleteMarked);
        enable(BtnDeleteGroup);
        enable(BtnSearch);
        enable(BtnReset);
    } else {
        disable(BtnDeleteMarked);
        disable(BtnDeleteGroup);
        enable(LstMembers);
        enable(LstGroups);
        enable(BtnSearch);
        enable(BtnReset);
    }
}

void AddFolderCommand(AppState& state) {
    std::string folder = platform::PickFolder(kPickerTitle, state.lastFolder);
    if (folder.empty() || folder == state.lastFolder) {
        return;
    }
    state.lastFolder = folder;
    ScanFolder(state.fileCatalogue, state.programDirectory, state.lastFolder, state.passedOver,
               *state.progress);
    RefreshViews(state, RefreshAllFiles);
}

void SearchCommand(AppState& state) {
    FindDuplicates(state);
    RefreshViews(state, RefreshGroups);
}

void ResetCommand(AppState& state) {
    state.fileCatalogue.Clear();
    state.groupList.clear();
    state.memberList.clear();
    RefreshViews(state, 0);
    state.lastFolder.clear();
}

void GroupSelectedCommand(AppState& state) {
    RefreshViews(state, RefreshMembers);
}

void RunCommand(AppState& state, int32_t identifier) {
    switch (identifier) {
        case BtnAddFolder:
            AddFolderCommand(state);
            break;
        case BtnReset:
            ResetCommand(state);
            break;
        case BtnSearch:
            SearchCommand(state);
            break;
        case LstGroups:
            GroupSelectedCommand(state);
            break;
        case BtnDeleteMarked:
            DeleteMarkedCommand(state);
            break;
        case BtnDeleteGroup:
            DeleteGroupCommand(state);
            break;
        default:
            break;
    }
}

void RunLoop(AppState& state) {
    do {
        state.lastEvent = platform::WaitForEvent();
        ApplyControlStates(state);
        if (state.lastEvent == platform::kEventControl) {
            RunCommand(state, platform::ControlIdentifier());
        }
    } while (state.lastEvent != platform::kEventClose);
}

void ShutDown() {
    platform::CloseMainWindow(kMainWindowNumber);
    platform::ShowMessageBox(kCreditsCaption, kCreditsText, platform::kMessageBoxOk);
}

int RunTwinrake() {
    AppState state;
    if (!StartUp(state)) {
        return 0;
    }
    RunLoop(state);
    ShutDown();
    return 0;
}

}  // namespace twinrake
