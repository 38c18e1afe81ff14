#pragma once
#include "core/Services.h"
#include <QWidget>
#include <functional>

namespace lomex {

class CollapsedView;
class ExpandedView;
class NotchPageHost;

// The notch panel's content: the black outline and, inside it, the collapsed or the expanded
// view. Made with the shared models of the delegate's bundle.
class NotchRootView : public QWidget {
    Q_OBJECT
public:
    NotchRootView(const Services& services, QWidget* parent = nullptr);
    const Services& services() const { return services_; }
    CollapsedView* collapsedView() const { return collapsed_; }
    ExpandedView* expandedView() const { return expanded_; }
    NotchPageHost* pages() const;
    // Called by the gear button.
    void setOnSettings(std::function<void()> fn);
    // Whether the closed pill is drawn; false leaves it invisible (pill only while active).
    void setPillVisible(bool visible);
    bool isPillVisible() const { return pillVisible_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void relayout();
    Services services_;
    CollapsedView* collapsed_;
    ExpandedView* expanded_;
    bool pillVisible_ = true;
};

} // namespace lomex
