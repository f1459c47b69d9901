// The one place where 8-bit text becomes display text and back. Node names
// and the engines' messages are GB2312 (the core's 8-bit encoding); the
// toolkit's strings are Unicode. Every widget that shows a node name, and
// every node name built from something the user typed, goes through this pair.
#pragma once

#include <QByteArray>
#include <QString>

// GB2312 text (NUL-terminated; null gives an empty string) as a display string.
QString GbToDisplay(const char* szText);

// A display string as GB2312; a character GB2312 cannot hold becomes '?'.
QByteArray DisplayToGb(const QString& strText);
