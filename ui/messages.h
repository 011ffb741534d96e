#pragma once

#include "configloader.h"

#include <QString>
#include <QStringList>

#include <string>

// text (Windows-1252, holding %1, %2, ...) with arguments filled in.
QString messageText(const std::string &text, const QStringList &arguments);
// The same as UTF-8, for a UserError.
std::string messageBytes(const std::string &text, const QStringList &arguments);
