// A seam for window tests that meet no question: it records the messages the window shows
// and discards unsaved edits when asked.
#pragma once

#include "app/FormSeam.h"

#include <QStringList>

namespace cantorell::test {

class TMessageSeam : public TFormSeam {
public:
    void ShowMessage(QWidget*, const QString& text) override { Messages.append(text); }
    void ShowError(QWidget*, const QString& text, const QString&) override {
        Messages.append(text);
    }
    TSaveAnswer AskSaveChanges(QWidget*, const QString&) override { return TSaveAnswer::saDiscard; }
    QStringList Messages;
};

} // namespace cantorell::test
