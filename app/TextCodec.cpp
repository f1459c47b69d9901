#include "app/TextCodec.h"

#include "core/Portability.h"

#include <string>

QString GbToDisplay(const char* szText)
{
    if (!szText || !*szText)
        return QString();
    const std::string utf8 = tessaroo::Gb2312ToUtf8(szText);
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

QByteArray DisplayToGb(const QString& strText)
{
    if (strText.isEmpty())
        return QByteArray();
    const std::string gb = tessaroo::Utf8ToGb2312(strText.toUtf8().constData());
    return QByteArray(gb.data(), qsizetype(gb.size()));
}
