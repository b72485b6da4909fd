#include "setup/windows/desktop_services.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QString>
#include <QUrl>

#include "setup/windows/qt_texts.h"

namespace nuva {

Q_LOGGING_CATEGORY(SetupTrace, "nuva.setup.trace", QtWarningMsg)

void ShowMessageBox(QWidget* owner, const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Ok, owner);
    box.setObjectName(kMessageBoxName);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

std::optional<std::string> AskFileName(QWidget* owner, const FileQuestion& question) {
    QFileDialog dialog(owner, QString::fromStdString(question.title),
                       QString::fromStdString(question.initialFolder));
    dialog.setObjectName(kFileQuestionName);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (question.save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !question.overwritePrompt);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    dialog.setNameFilters(QtNameFilters(question.filter));
    dialog.setDefaultSuffix(QString::fromStdString(question.defaultSuffix));
    if (!question.proposedName.empty()) {
        dialog.selectFile(QString::fromStdString(question.proposedName));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().constFirst().toStdString();
}

uint32_t OpenInBrowser(const std::string& target) {
    QString text = QString::fromStdString(target);
    QUrl url(text);
    // QUrl keeps schemes in lower case.
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) {
        url = QUrl::fromLocalFile(text);
    }
    return QDesktopServices::openUrl(url) ? 0 : kBrowserFailed;
}

void WriteTrace(const std::string& line) {
    // The lines carry the debugger output's "\r\n"; the log adds its own.
    std::string_view shown = line;
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) {
        shown.remove_suffix(1);
    }
    qCDebug(SetupTrace).noquote() << QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size()));
}

}  // namespace nuva
