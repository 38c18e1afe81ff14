#pragma once
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <functional>

class QLabel;
class QMimeData;
class QAction;
class QHBoxLayout;
class QPushButton;
class QScrollArea;
class QStackedLayout;

namespace lomex {

class Clipboard;
class ShelfStore;
class Workspace;

// One shelved file: its icon, its name on at most two lines, a menu (open, show in the file
// manager, copy path, remove), open on double click, and dragging out as a file reference.
class ShelfItemView : public QWidget {
    Q_OBJECT
public:
    static constexpr int iconSize = 52;
    static constexpr int nameWidth = 76;

    ShelfItemView(const QUrl& url, ShelfStore* shelf, Workspace* workspace, Clipboard* clipboard,
                  QWidget* parent = nullptr);

    QUrl url() const { return url_; }
    bool hovered() const { return hover_; }
    bool missing() const { return false; }
    QString shownName() const;

    void open();
    void reveal();
    void copyPath();
    void remove();
    // Called just before remove() changes the shelf, so its view can animate the change.
    std::function<void()> beforeRemove;
    // The context menu's entries, in order, with nullptr for the divider (built anew each time,
    // so it follows the language).
    QList<QAction*> menuActions(QObject* owner);
    // What dragging the item out carries: the file's URL, never its bytes; empty when the file
    // is gone.
    QMimeData* dragData() const;

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QUrl url_;
    QPointer<ShelfStore> shelf_;
    Workspace* workspace_;
    Clipboard* clipboard_;
    QLabel* name_;
    QPoint pressAt_;
    bool hover_ = false;
};

// The shelf tab: a dashed drop zone that lights up while a file drag hovers, the empty-state
// hint, or the row of shelved files with a clear button. Changes go through ShelfStore only.
class ShelfView : public QWidget {
    Q_OBJECT
public:
    // workspace / clipboard: nullptr uses the current platform layers.
    explicit ShelfView(ShelfStore* shelf, Workspace* workspace = nullptr, Clipboard* clipboard = nullptr,
                       QWidget* parent = nullptr);

    bool targeted() const { return targeted_; }
    bool showsEmptyState() const;
    QList<ShelfItemView*> itemViews() const;
    QPushButton* clearButton() const { return clear_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();
    void retranslate();
    void setTargeted(bool on);

    QPointer<ShelfStore> shelf_;
    Workspace* workspace_;
    Clipboard* clipboard_;
    QStackedLayout* layers_;
    QWidget* empty_;
    QLabel* dropTitle_;
    QLabel* dropHint_;
    QWidget* full_;
    bool animateNext_ = false; // the coming change is a clear or a removal
    QScrollArea* scroll_;
    QWidget* row_;
    QHBoxLayout* rowLayout_;
    QPushButton* clear_;
    bool targeted_ = false;
};

} // namespace lomex
