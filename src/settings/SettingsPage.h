#pragma once
#include <QList>
#include <QPointer>
#include <QString>
#include <QLabel>
#include <QWidget>

class QVBoxLayout;

namespace lomex {

// The content of one settings page: its cards and other top-level elements stacked with the
// window's spacing (24 at the sides and under each element, the default 8 between neighbours).
// Pages build themselves when made and rebuild their texts on a change of language.
class SettingsPage : public QWidget {
    Q_OBJECT
public:
    explicit SettingsPage(QWidget* parent = nullptr);

    template <class W>
    W* add(W* element) {
        addElement(element);
        return element;
    }
    void addElement(QWidget* element);
    // An invisible element of no height whose name is a section id that can be scrolled to.
    // It takes no room: it sits on the top edge of the element added next.
    void addAnchor(const QString& id);
    // The element that carries a section id, or nullptr.
    QWidget* anchor(const QString& id) const;
    // The line that says a setting could not be saved, or nullptr before one failed.
    QLabel* saveError() const { return saveError_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Every control of every page writes through the settings: a write that fails is shown
    // here once, under the element holding the control that wrote (or the focus).
    void showSaveError(const QString& key);
    QWidget* elementActedOn(const QString& key) const;
    void sayNotSaved();
    QVBoxLayout* layout_;
    QPointer<QLabel> saveError_; // may live in the element it speaks of
    QList<QWidget*> pendingAnchors_;
};

} // namespace lomex
