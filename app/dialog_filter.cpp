// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/dialog_filter.h"

#include <QRegularExpression>

namespace {

QString QtPatterns(const QString& patterns) {
    QStringList list = patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& pattern : list) {
        pattern = pattern.trimmed();
#if !defined(_WIN32)
        if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
#endif
    }
    return list.join(QLatin1Char(' '));
}

// The description without the pattern list it may already show in parentheses.
QString BareDescription(const QString& description) {
    static const QRegularExpression trailingPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    QString bare = description;
    bare.remove(trailingPatterns);
    return bare.trimmed();
}

}  // namespace

QStringList ToQtNameFilters(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList result;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString patterns = QtPatterns(parts[i + 1]);
        if (patterns.isEmpty()) continue;
        QString description = BareDescription(parts[i]);
        if (description.isEmpty()) description = patterns;
        result << description + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return result;
}
