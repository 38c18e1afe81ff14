#pragma once
#include "notch/NotchModel.h"
#include <QAbstractButton>
#include <QWidget>
#include <functional>

class QHBoxLayout;

namespace lomex {

// One symbol button of the tab bar; hovering reports to the model so a resting pointer
// switches tabs without a click, and so does a drag resting on it (a drag brings no enter
// events, and cannot click).
class NotchTabButton : public QAbstractButton {
    Q_OBJECT
public:
    NotchTabButton(NotchModel::Tab tab, QWidget* parent = nullptr);
    NotchModel::Tab tab() const { return tab_; }
    void setSelected(bool on);
    void retranslate();
    bool isSelected() const { return selected_; }
    QSize sizeHint() const override { return {34, 28}; }

Q_SIGNALS:
    void hovered(NotchModel::Tab tab, bool inside);
    void draggedOver(NotchModel::Tab tab, bool inside);

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;

private:
    NotchModel::Tab tab_;
    bool selected_ = false;
    bool hover_ = false;
};

// The row of visibleTabs at the top of the open notch, with the gear button on the right.
class NotchTabBar : public QWidget {
    Q_OBJECT
public:
    NotchTabBar(NotchModel* model, QWidget* parent = nullptr);
    QList<NotchTabButton*> buttons() const { return buttons_; }
    QAbstractButton* gearButton() const { return gear_; }
    std::function<void()> onSettings;

    void rebuild();
    void retranslate();

private:
    void updateSelection();
    NotchModel* model_;
    QWidget* tabList_;
    QHBoxLayout* tabsLayout_;
    QList<NotchTabButton*> buttons_;
    QAbstractButton* gear_;
};

} // namespace lomex
