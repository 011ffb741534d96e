#pragma once

#include "configloader.h"

#include <QString>
#include <QStringList>

#include <string>

// The messages the window shows, as the start-up read them from the GUI file (the built-in
// texts until then). One set for the process, like the window.
const MessageTexts &messageTexts();
void setMessageTexts(const MessageTexts &texts);

// text (Windows-1252, holding %1, %2, ...) with arguments filled in.
QString messageText(const std::string &text, const QStringList &arguments);
// The same as UTF-8, for a UserError.
std::string messageBytes(const std::string &text, const QStringList &arguments);
