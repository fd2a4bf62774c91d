// The windowing operations on Qt 6 Widgets. The window must behave as the Windows program
// does, so a few things Qt would do on its own are done here instead: the Tab focus cycle,
// the one-event-per-pass wait, and lists that report only what the user did.
#include "platform/qt/window_qt.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionFrame>
#include <QWindow>
#include <algorithm>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/window.h"

namespace platform {

namespace {

// The Win32 style bits whose meaning a top-level window honours.
constexpr uint32_t kStyleVisible = 0x10000000;
constexpr uint32_t kStyleCaption = 0x00C00000;
constexpr uint32_t kStyleSystemMenu = 0x00080000;
constexpr uint32_t kStyleSizingFrame = 0x00040000;
constexpr uint32_t kStyleMinimiseBox = 0x00020000;
constexpr uint32_t kStyleMaximiseBox = 0x00010000;

// What the wait returns for a pass that brought no event.
constexpr int32_t kNoEvent = 0;

void RaiseControlEvent(int32_t identifier);
void RaiseCloseEvent();

}  // namespace

struct MainWindow final : QWidget {
    MainWindow(int32_t windowNumber, bool centreOnScreen)
        : number(windowNumber), centred(centreOnScreen) {}

    // Puts the frame's top-left corner where the window sits centred on the primary screen,
    // with the frame margins known now.
    void Centre() {
        QScreen* screen = QGuiApplication::primaryScreen();
        if (screen == nullptr) {
            return;
        }
        QMargins frame = windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
        placedWithFrame = frame;
        QSize outer(width() + frame.left() + frame.right(),
                    height() + frame.top() + frame.bottom());
        move(screen->geometry().topLeft() + qt::CentredOrigin(screen->geometry().size(), outer));
    }

    const int32_t number;

  protected:
    void closeEvent(QCloseEvent* event) override {
        // Closing ends the program's loop, which then destroys the window itself.
        event->ignore();
        RaiseCloseEvent();
    }

    // The focus moves only by the Tab rule of this backend. Returning true without moving
    // also keeps the focus on a control that gets disabled, as Windows does.
    bool focusNextPrevChild(bool) override { return true; }

    bool event(QEvent* event) override {
        // A window manager adds its frame only after the window is mapped; centre once more
        // when its size becomes known.
        QEvent::Type type = event->type();
        if (centred &&
            (type == QEvent::Move || type == QEvent::Show || type == QEvent::WindowActivate) &&
            windowHandle() != nullptr && windowHandle()->frameMargins() != placedWithFrame) {
            centred = false;
            Centre();
        }
        return QWidget::event(event);
    }

  private:
    bool centred;
    QMargins placedWithFrame;
};

namespace {

// The lines of one list, kept compactly: their bytes back to back in one buffer, each ended
// by a NUL, and where each line starts. A line becomes text only while the view asks for it,
// so a list of a million files costs little more than their names.
class LineModel final : public QAbstractListModel {
  public:
    explicit LineModel(QObject* parent) : QAbstractListModel(parent) {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(starts_.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid)) {
            return {};
        }
        std::string_view line = Line(index.row());
        return QFile::decodeName(
            QByteArray::fromRawData(line.data(), static_cast<qsizetype>(line.size())));
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren
                               : Qt::NoItemFlags;
    }

    // All lines of `lines` at the end, announced to the view as one insertion.
    void Append(LineBatch lines) {
        size_t count = std::count(lines.text.begin(), lines.text.end(), '\0');
        if (!lines.text.empty() && lines.text.back() != '\0') {
            lines.text.push_back('\0');  // the unended rest is a line too
            ++count;
        }
        if (count == 0) {
            return;
        }
        int first = rowCount();
        beginInsertRows(QModelIndex(), first, first + static_cast<int>(count) - 1);
        size_t base = text_.size();
        if (text_.empty()) {
            text_ = std::move(lines.text);
            if (text_.capacity() - text_.size() > text_.size() / 4) {
                text_.shrink_to_fit();  // what a batch grew by beyond its lines
            }
        } else {
            text_.append(lines.text);
        }
        starts_.reserve(starts_.size() + count);
        for (size_t at = base; at < text_.size(); at = text_.find('\0', at) + 1) {
            starts_.push_back(at);
        }
        endInsertRows();
    }

    void Remove(int row) {
        beginRemoveRows(QModelIndex(), row, row);
        size_t begin = starts_[static_cast<size_t>(row)];
        size_t length = Line(row).size() + 1;
        text_.erase(begin, length);
        starts_.erase(starts_.begin() + row);
        for (auto at = starts_.begin() + row; at != starts_.end(); ++at) {
            *at -= length;
        }
        endRemoveRows();
    }

    void Clear() {
        beginResetModel();
        std::string().swap(text_);
        std::vector<size_t>().swap(starts_);
        endResetModel();
    }

    std::string_view Line(int row) const {
        size_t at = static_cast<size_t>(row);
        size_t end = at + 1 < starts_.size() ? starts_[at + 1] : text_.size();
        return std::string_view(text_).substr(starts_[at], end - 1 - starts_[at]);
    }

  private:
    std::string text_;
    std::vector<size_t> starts_;
};

// A list box: single selection, lines in the order appended, no horizontal scrolling, and
// only the user's selection changes and double clicks reported.
class ListControl final : public QListView {
  public:
    ListControl(QWidget* parent, int32_t identifier)
        : QListView(parent), lines_(new LineModel(this)) {
        setModel(lines_);
        setSelectionMode(QAbstractItemView::SingleSelection);
        setUniformItemSizes(true);
        setTextElideMode(Qt::ElideNone);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        setEditTriggers(QAbstractItemView::NoEditTriggers);
        setDragEnabled(false);
        connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this, identifier] {
            if (!changedByProgram) {
                RaiseControlEvent(identifier);
            }
        });
        connect(this, &QAbstractItemView::doubleClicked, this,
                [identifier](const QModelIndex&) { RaiseControlEvent(identifier); });
    }

    // Runs `change` as the program's own, which reports nothing.
    template <typename Change>
    void ByProgram(Change change) {
        bool outer = changedByProgram;
        changedByProgram = true;
        change();
        DropCurrentWithoutSelection();
        changedByProgram = outer;
    }

    int32_t Selected() const {
        QModelIndexList rows = selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.first().row();
    }

    int count() const { return lines_->rowCount(); }
    LineModel& Lines() { return *lines_; }

  protected:
    void focusInEvent(QFocusEvent* event) override {
        QListView::focusInEvent(event);
        DropCurrentWithoutSelection();
    }

    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override {
        // One column: Left and Right step like Up and Down, and the first step in a list
        // without a selected line lands on the first line.
        if (action == MoveLeft) {
            action = MoveUp;
        } else if (action == MoveRight) {
            action = MoveDown;
        }
        if ((action == MoveUp || action == MoveDown) && Selected() < 0 && count() > 0) {
            return model()->index(0, 0);
        }
        return QListView::moveCursor(action, modifiers);
    }

    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override {
        // The user moves the selection but cannot take it away: a click below the last line
        // or a Ctrl+click on the selected line changes nothing.
        if (!index.isValid()) {
            return QItemSelectionModel::NoUpdate;
        }
        QItemSelectionModel::SelectionFlags flags = QListView::selectionCommand(index, event);
        if (flags.testFlag(QItemSelectionModel::Deselect)) {
            return QItemSelectionModel::NoUpdate;
        }
        return flags;
    }

    void updateGeometries() override {
        // Lines wider than the list are cut at its right edge; nothing scrolls sideways.
        QListView::updateGeometries();
        horizontalScrollBar()->setRange(0, 0);
    }

  private:
    // Qt keeps a current line apart from the selection; a list box has only the selected
    // line, so an arrow key in a list without one starts from the top.
    void DropCurrentWithoutSelection() {
        if (Selected() < 0 && currentIndex().isValid()) {
            selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        }
    }

    LineModel* lines_;
    bool changedByProgram = false;
};

// A vertical smooth bar as Windows draws one: a sunken frame, filled from the bottom in
// proportion to the position, and empty at the lowest position.
class ProgressControl final : public QProgressBar {
  public:
    explicit ProgressControl(QWidget* parent) : QProgressBar(parent) {
        setOrientation(Qt::Vertical);
        setTextVisible(false);
        setFocusPolicy(Qt::NoFocus);
    }

    // How often the bar has painted itself so far.
    int64_t Paints() const { return paints_; }

  protected:
    void paintEvent(QPaintEvent*) override {
        ++paints_;
        QPainter painter(this);
        QStyleOptionFrame frame;
        frame.initFrom(this);
        frame.state |= QStyle::State_Sunken;
        frame.lineWidth = 1;
        style()->drawPrimitive(QStyle::PE_Frame, &frame, &painter, this);
        QRect inside = rect().adjusted(1, 1, -1, -1);
        int64_t span = int64_t{maximum()} - minimum();
        int filled =
            span > 0
                ? static_cast<int>(int64_t{inside.height()} * (int64_t{value()} - minimum()) / span)
                : 0;
        painter.fillRect(QRect(inside.left(), inside.bottom() + 1 - filled, inside.width(), filled),
                         palette().highlight());
    }

  private:
    int64_t paints_ = 0;
};

struct Control {
    int32_t identifier = 0;
    ControlKind kind = ControlKind::Label;
    QPointer<QWidget> widget;
};

class KeyFilter;

struct Backend {
    QPointer<MainWindow> window;
    QPointer<QWidget> controlParent;
    std::vector<Control> controls;  // in creation order
    std::deque<int32_t> pending;    // control identifiers, or -1 for a close request
    int32_t latestControl = -1;
    KeyFilter* keyFilter = nullptr;
    qt::FolderAnswer folderAnswer;
    std::function<void()> waitHook;
};

Backend& State() {
    static Backend backend;
    return backend;
}

constexpr int32_t kCloseRequest = -1;

void RaiseControlEvent(int32_t identifier) {
    State().pending.push_back(identifier);
}

void RaiseCloseEvent() {
    State().pending.push_back(kCloseRequest);
}

Control* Find(int32_t identifier) {
    for (Control& control : State().controls) {
        if (control.identifier == identifier && !control.widget.isNull()) {
            return &control;
        }
    }
    return nullptr;
}

template <typename Widget>
Widget* FindAs(int32_t identifier) {
    Control* control = Find(identifier);
    return control != nullptr ? qobject_cast<Widget*>(control->widget.data()) : nullptr;
}

ListControl* FindList(int32_t identifier) {
    Control* control = Find(identifier);
    if (control == nullptr || control->kind != ControlKind::List) {
        return nullptr;
    }
    return static_cast<ListControl*>(control->widget.data());
}

ProgressControl* FindBar(int32_t identifier) {
    Control* control = Find(identifier);
    if (control == nullptr || control->kind != ControlKind::ProgressBar) {
        return nullptr;
    }
    return static_cast<ProgressControl*>(control->widget.data());
}

// The control that holds `widget`, or nullptr when it is none of them (the window itself).
const Control* OwnerOf(const QWidget* widget) {
    for (const QWidget* at = widget; at != nullptr; at = at->parentWidget()) {
        for (const Control& control : State().controls) {
            if (control.widget == at) {
                return &control;
            }
        }
    }
    return nullptr;
}

bool IsCandidate(const Control& control) {
    bool tabStop = control.kind == ControlKind::PushButton || control.kind == ControlKind::List;
    return tabStop && !control.widget.isNull() && control.widget->isEnabled() &&
           control.widget->isVisible();
}

// Tab and Shift+Tab: the next or previous enabled tab stop in creation order, wrapping.
void MoveFocus(bool forward) {
    Backend& backend = State();
    if (backend.window.isNull()) {
        return;
    }
    std::vector<const Control*> candidates;
    for (const Control& control : backend.controls) {
        if (IsCandidate(control)) {
            candidates.push_back(&control);
        }
    }
    if (candidates.empty()) {
        return;
    }
    const Control* focused = OwnerOf(backend.window->focusWidget());
    const Control* target = nullptr;
    if (focused == nullptr) {
        target = forward ? candidates.front() : candidates.back();
    } else {
        auto at = std::find(candidates.begin(), candidates.end(), focused);
        if (at == candidates.end()) {
            // A focused control that cannot take the focus by Tab: only Shift+Tab leaves it.
            target = forward ? nullptr : candidates.back();
        } else if (forward) {
            target = std::next(at) == candidates.end() ? candidates.front() : *std::next(at);
        } else {
            target = at == candidates.begin() ? candidates.back() : *std::prev(at);
        }
    }
    if (target != nullptr) {
        target->widget->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    }
}

// Takes Tab, Shift+Tab and Alt+F4 addressed to the main window before any control sees them.
class KeyFilter final : public QObject {
  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease) {
            return false;
        }
        if (!InMainWindow(watched)) {
            return false;
        }
        const auto* key = static_cast<const QKeyEvent*>(event);
        Qt::KeyboardModifiers held = key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier |
                                                         Qt::AltModifier | Qt::MetaModifier);
        bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        if (tab && (held & ~Qt::ShiftModifier) == Qt::NoModifier) {
            bool backward = key->key() == Qt::Key_Backtab || held == Qt::ShiftModifier;
            if (type == QEvent::KeyPress) {
                MoveFocus(!backward);
            }
            return true;
        }
        if (key->key() == Qt::Key_F4 && held == Qt::AltModifier) {
            if (type == QEvent::KeyPress && !key->isAutoRepeat()) {
                RaiseCloseEvent();
            }
            return true;
        }
        return false;
    }

  private:
    static bool InMainWindow(const QObject* watched) {
        MainWindow* window = State().window.data();
        if (window == nullptr) {
            return false;
        }
        if (watched->isWidgetType()) {
            return static_cast<const QWidget*>(watched)->window() == window;
        }
        return watched->isWindowType() && watched == window->windowHandle();
    }
};

// A small sans-serif face like the one the Windows controls use, so that the captions fit
// their 20- and 24-pixel boxes.
QFont ControlFont() {
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

Qt::WindowFlags FlagsForStyle(uint32_t style) {
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint;
    if ((style & kStyleCaption) == kStyleCaption) {
        flags |= Qt::WindowTitleHint;
    } else {
        flags |= Qt::FramelessWindowHint;
    }
    if ((style & kStyleSystemMenu) != 0) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    if ((style & kStyleMinimiseBox) != 0) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    if ((style & kStyleMaximiseBox) != 0) {
        flags |= Qt::WindowMaximizeButtonHint;
    }
    return flags;
}

bool HaveApplication() {
    return qobject_cast<QApplication*>(QCoreApplication::instance());
}

}  // namespace

MainWindow* CreateMainWindow(int32_t number, int32_t clientWidth, int32_t clientHeight,
                             uint32_t style, bool centred, const std::string& title) {
    Backend& backend = State();
    if (!HaveApplication() || !backend.window.isNull() || clientWidth <= 0 || clientHeight <= 0) {
        return nullptr;
    }
    auto* window = new MainWindow(number, centred);
    window->setWindowFlags(FlagsForStyle(style));
    window->setWindowTitle(QString::fromUtf8(title));
    window->setFont(ControlFont());
    window->setFocusPolicy(Qt::NoFocus);
    if ((style & kStyleSizingFrame) != 0) {
        window->resize(clientWidth, clientHeight);
    } else {
        window->setFixedSize(clientWidth, clientHeight);
    }
    if (centred) {
        window->winId();  // makes the native window, whose frame margins centring needs
        window->Centre();
    }
    backend.window = window;
    backend.controls.clear();
    backend.pending.clear();
    backend.latestControl = -1;
    if (backend.keyFilter == nullptr) {
        backend.keyFilter = new KeyFilter;
        qApp->installEventFilter(backend.keyFilter);
    }
    if ((style & kStyleVisible) != 0) {
        window->show();
    }
    // The window itself holds the focus at first: no control is focused until the user
    // moves there.
    window->setFocus(Qt::OtherFocusReason);
    return window;
}

bool SetControlParent(MainWindow* window) {
    if (window == nullptr || window != State().window.data()) {
        return false;
    }
    State().controlParent = window;
    return true;
}

void CreateControl(int32_t identifier, ControlKind kind, const Box& box, const char* caption,
                   int32_t rangeMin, int32_t rangeMax) {
    Backend& backend = State();
    QWidget* parent = backend.controlParent.data();
    if (parent == nullptr || Find(identifier) != nullptr) {
        return;
    }
    QString text = caption != nullptr ? QString::fromUtf8(caption) : QString();
    QWidget* widget = nullptr;
    switch (kind) {
        case ControlKind::PushButton: {
            auto* button = new QPushButton(text, parent);
            // Enter and Escape do nothing: no button is a default button.
            button->setAutoDefault(false);
            button->setDefault(false);
            button->setFocusPolicy(Qt::StrongFocus);
            QObject::connect(button, &QPushButton::clicked, button,
                             [identifier] { RaiseControlEvent(identifier); });
            widget = button;
            break;
        }
        case ControlKind::Label: {
            auto* label = new QLabel(text, parent);
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setFocusPolicy(Qt::NoFocus);
            widget = label;
            break;
        }
        case ControlKind::List: {
            auto* list = new ListControl(parent, identifier);
            list->setFocusPolicy(Qt::StrongFocus);
            widget = list;
            break;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new ProgressControl(parent);
            bar->setRange(rangeMin, std::max(rangeMin, rangeMax));
            bar->setValue(rangeMin);
            widget = bar;
            break;
        }
    }
    widget->setGeometry(box.x, box.y, box.width, box.height);
    if (kind != ControlKind::ProgressBar) {
        widget->setFont(ControlFont());
    }
    widget->show();
    backend.controls.push_back(Control{identifier, kind, widget});
}

int32_t WaitForEvent() {
    Backend& backend = State();
    if (!HaveApplication()) {
        return kEventClose;
    }
    if (backend.pending.empty()) {
        if (backend.waitHook) {
            backend.waitHook();
        }
        // Outside a running event loop Qt leaves objects scheduled for deletion alone.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    if (backend.pending.empty()) {
        return kNoEvent;
    }
    int32_t next = backend.pending.front();
    backend.pending.pop_front();
    if (next == kCloseRequest) {
        return kEventClose;
    }
    backend.latestControl = next;
    return kEventControl;
}

int32_t ControlIdentifier() {
    return State().latestControl;
}

void AppendLine(int32_t list, const std::string& text) {
    LineBatch line;
    line.Add(text.c_str());  // the line ends at its first NUL, as a C string does
    AppendLines(list, std::move(line));
}

void AppendLines(int32_t list, LineBatch lines) {
    if (ListControl* control = FindList(list)) {
        control->ByProgram([&] { control->Lines().Append(std::move(lines)); });
    }
}

void ClearLines(int32_t list) {
    if (ListControl* control = FindList(list)) {
        control->ByProgram([&] { control->Lines().Clear(); });
    }
}

void RemoveLine(int32_t list, int32_t index) {
    ListControl* control = FindList(list);
    if (control == nullptr || index < 0 || index >= control->count()) {
        return;
    }
    control->ByProgram([&] {
        // Removing the selected line leaves none selected, where Qt would select a neighbour.
        bool selected = control->Selected() == index;
        control->Lines().Remove(index);
        if (selected) {
            control->selectionModel()->clear();
        }
    });
}

int32_t CountLines(int32_t list) {
    ListControl* control = FindList(list);
    return control != nullptr ? control->count() : 0;
}

int32_t SelectedIndex(int32_t list) {
    ListControl* control = FindList(list);
    return control != nullptr ? control->Selected() : -1;
}

void SelectLine(int32_t list, int32_t index) {
    ListControl* control = FindList(list);
    if (control == nullptr) {
        return;
    }
    control->ByProgram([&] {
        if (index >= 0 && index < control->count()) {
            control->selectionModel()->setCurrentIndex(control->model()->index(index, 0),
                                                       QItemSelectionModel::ClearAndSelect);
        } else {
            control->selectionModel()->clear();
        }
    });
}

void SetControlText(int32_t control, const std::string& text) {
    if (auto* button = FindAs<QPushButton>(control)) {
        button->setText(QString::fromUtf8(text));
    } else if (auto* label = FindAs<QLabel>(control)) {
        label->setText(QString::fromUtf8(text));
    }
}

void EnableControl(int32_t control, bool disabled) {
    if (Control* found = Find(control)) {
        found->widget->setEnabled(!disabled);
    }
}

void SetProgress(int32_t bar, int32_t percent) {
    ProgressControl* progress = FindBar(bar);
    if (progress == nullptr) {
        return;
    }
    int value = std::clamp(percent, progress->minimum(), progress->maximum());
    if (value == progress->value()) {
        return;
    }
    // The search runs without taking events, so the bar must paint now. QProgressBar
    // repaints by itself when it deems the change visible; a second paint would only cost
    // another trip to the display, which thousands of small files make up to seconds.
    int64_t paints = progress->Paints();
    progress->setValue(value);
    if (progress->Paints() == paints) {
        progress->repaint();
    }
}

void KeepWindowAlive() {
    if (!HaveApplication()) {
        return;
    }
    // Paint, exposure and the window manager's messages, never a key or a click: those wait
    // for the command's end. A close request lands in `pending`, where the loop takes it then.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

std::string PickFolder(const std::string& title, const std::string& initialFolder) {
    if (!HaveApplication()) {
        return {};
    }
    Backend& backend = State();
    QString caption = QString::fromUtf8(title);
    QString initial = QFile::decodeName(initialFolder.c_str());
    QString chosen;
    if (backend.folderAnswer) {
        chosen = backend.folderAnswer(caption, initial);
    } else {
        chosen = QFileDialog::getExistingDirectory(backend.window.data(), caption,
                                                   initial.isEmpty() ? QDir::homePath() : initial,
                                                   QFileDialog::ShowDirsOnly);
    }
    if (chosen.isEmpty()) {
        return {};
    }
    std::string folder = QFile::encodeName(chosen).toStdString();
    if (folder.back() != '/') {
        folder.push_back('/');
    }
    return folder;
}

void ShowMessageBox(const std::string& caption, const std::string& text, uint32_t) {
    if (!HaveApplication()) {
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(caption), QString::fromUtf8(text),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void CloseMainWindow(int32_t number) {
    Backend& backend = State();
    if (backend.window.isNull() || backend.window->number != number) {
        return;
    }
    delete backend.window.data();
    backend.controls.clear();
    backend.controlParent = nullptr;
    backend.pending.clear();
}

namespace qt {

QWidget* MainWindowWidget() {
    return State().window.data();
}

QWidget* ControlWidget(int32_t identifier) {
    Control* control = Find(identifier);
    return control != nullptr ? control->widget.data() : nullptr;
}

int32_t IdentifierOf(const QWidget* widget) {
    const Control* control = OwnerOf(widget);
    return control != nullptr ? control->identifier : -1;
}

QPoint CentredOrigin(QSize screen, QSize outer) {
    return QPoint((screen.width() >> 1) - (outer.width() >> 1),
                  (screen.height() >> 1) - (outer.height() >> 1));
}

void SetFolderAnswerForTests(FolderAnswer answer) {
    State().folderAnswer = std::move(answer);
}

void SetWaitHookForTests(std::function<void()> hook) {
    State().waitHook = std::move(hook);
}

}  // namespace qt

}  // namespace platform
