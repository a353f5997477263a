// A masked entry box for the lock password: "*" per character, at most 12 characters.
#pragma once

#include "password/PasswordFile.h"

#include <QLineEdit>

inline QLineEdit *makePasswordBox(const QString &name, QWidget *parent)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setEchoMode(QLineEdit::Password);
    box->setMaxLength(PasswordFile::kMaxChars);
    // The platform's own mask character varies; the dialogs show "*".
    box->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    return box;
}
