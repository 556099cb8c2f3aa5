// Makers of the main window's widgets, shared by the files that lay out its pages.
#pragma once

#include <QFont>
#include <QLabel>
#include <QLatin1String>
#include <QPlainTextEdit>
#include <QString>
#include <QWidget>

#include <utility>

namespace cantorell {

// A new TWidget built from `args` (as its constructor takes them, the parent last) and
// named `name`: the window's tests and its form persistence find a widget by that name.
template <class TWidget, class... TArgs> TWidget* MakeNamed(const char* name, TArgs&&... args) {
    auto* widget = new TWidget(std::forward<TArgs>(args)...);
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// A label in the bold variant of the font it has from its parent.
inline QLabel* MakeBoldLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = MakeNamed<QLabel>(name, text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

// A text box in a fixed-width font, for texts whose lines line up in columns.
inline QPlainTextEdit* MakeFixedWidthBox(QWidget* parent, const char* name) {
    auto* box = MakeNamed<QPlainTextEdit>(name, parent);
    box->setFont(QFont(QStringLiteral("Courier New"), 10));
    return box;
}

} // namespace cantorell
