#pragma once
#include <QWidget>
#include <functional>

class QLabel;

namespace lomex {

class NotchModel;
class NotchPageHost;
class NotchTabBar;

// The open notch: tab bar with the gear button, the page of the current tab, the toast line.
class ExpandedView : public QWidget {
    Q_OBJECT
public:
    ExpandedView(NotchModel* model, QWidget* parent = nullptr);
    NotchTabBar* tabBar() const { return tabBar_; }
    NotchPageHost* pages() const { return pages_; }
    QLabel* toastLine() const { return toast_; }
    void retranslate();

private:
    void updateToast();
    NotchModel* model_;
    NotchTabBar* tabBar_;
    NotchPageHost* pages_;
    QLabel* toast_;
};

} // namespace lomex
