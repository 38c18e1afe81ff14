#pragma once
#include <QHash>
#include <QPixmap>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <functional>

class QLabel;
class QMimeData;
class QAction;
class QPushButton;
class QScrollArea;
class QStackedLayout;

namespace lomex {

class Clipboard;
class ShelfStore;
class Workspace;

// One shelved file: its icon, its name on at most two lines, a menu (open, show in the file
// manager, copy path, remove), open on double click, and dragging out as a file reference.
// A file that is gone is drawn dimmed. Its icon is looked up when the item is made, which the
// shelf does only for items in view.
class ShelfItemView : public QWidget {
    Q_OBJECT
public:
    static constexpr int iconSize = 52;
    static constexpr int nameWidth = 76;
    static constexpr int padding = 6;
    static constexpr int width = nameWidth + 2 * padding;

    ShelfItemView(const QUrl& url, ShelfStore* shelf, Workspace* workspace, Clipboard* clipboard,
                  QWidget* parent = nullptr);

    QUrl url() const { return url_; }
    // Shows another file (an item scrolled out of view is reused for one coming into it).
    void setUrl(const QUrl& url);
    bool hovered() const { return hover_; }
    // Whether the file was gone when last looked at (made, or the shelf shown).
    bool missing() const { return missing_; }
    void checkMissing();
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
    void showMissing();
    QUrl url_;
    QPointer<ShelfStore> shelf_;
    Workspace* workspace_;
    Clipboard* clipboard_;
    QLabel* icon_;
    QLabel* name_;
    QPixmap pixmap_;
    QPoint pressAt_;
    bool hover_ = false;
    bool missing_ = false;
};

// The shelf tab: a dashed drop zone that lights up while a file drag hovers, the empty-state
// hint, or the row of shelved files with a clear button, and a line when the shelf is not
// saved or a drop went past its bound. Changes go through ShelfStore only.
// A shelf may hold thousands of files: only the items in view (and a few beside them) exist as
// widgets, made as they scroll into view, and a change keeps the items of files that stay.
class ShelfView : public QWidget {
    Q_OBJECT
public:
    // Room of one item in the row: the item and the gap after it.
    static constexpr int gap = 12;
    static constexpr int pitch = ShelfItemView::width + gap;
    // workspace / clipboard: nullptr uses the current platform layers.
    explicit ShelfView(ShelfStore* shelf, Workspace* workspace = nullptr, Clipboard* clipboard = nullptr,
                       QWidget* parent = nullptr);

    bool targeted() const { return targeted_; }
    bool showsEmptyState() const;
    // The items that exist now (those in view and beside it), in shelf order.
    QList<ShelfItemView*> itemViews() const;
    QPushButton* clearButton() const { return clear_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void itemsChanged();
    // Makes the items in view, places them, and lets go of the others.
    void realize();
    void place(ShelfItemView* view, qsizetype index);
    void showStatus();
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
    QHash<QUrl, ShelfItemView*> views_;
    QPushButton* clear_;
    QLabel* notice_;
    bool targeted_ = false;
};

} // namespace lomex
