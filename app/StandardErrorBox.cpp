#include "app/StandardErrorBox.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <exception>

#include "app/MessageBox.h"

namespace {

constexpr QChar kFullStop = u'.';

// For throws of something that is not a std::exception; nothing of ours does
// that, but a library might.
const char* const kUnknownErrorMessage = "Unknown error";

}  // namespace

QString ApplicationTitleFromPath(const QString& programPath) {
    QString name = QFileInfo(programPath).fileName();
    const qsizetype stop = name.indexOf(kFullStop);
    if (stop >= 0) {
        name.truncate(stop);
    }
    if (name.isEmpty()) {
        return name;
    }
    return name.left(1) + name.mid(1).toLower();
}

QString ApplicationTitle() {
    return ApplicationTitleFromPath(QCoreApplication::applicationFilePath());
}

QString StandardErrorText(const QString& message) {
    if (!message.isEmpty() && message.back() > kFullStop) {
        return message + kFullStop;
    }
    return message;
}

void ShowStandardErrorBox(const QString& message) {
    ShowMessageBox(StandardErrorText(message), ApplicationTitle(), MessageBoxStyle::IconError);
}

void RunGuarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowStandardErrorBox(QString::fromUtf8(error.what()));
    } catch (...) {
        ShowStandardErrorBox(QString::fromLatin1(kUnknownErrorMessage));
    }
}
