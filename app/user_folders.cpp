// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/user_folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QStandardPaths>
#include <QTranslator>

#include "app/cal_data_file.h"

namespace zta {

namespace {

const QString kUserFolder = QStringLiteral("ZTA-K7");

}  // namespace

QString folderWithSeparator(const QString& folder) {
    QString native = QDir::toNativeSeparators(folder);
    if (!native.endsWith(QDir::separator())) native += QDir::separator();
    return native;
}

QString startRecordFolder(const ProgramPlace& program, const QString& documentsFolder) {
    if (program.writable && !program.installed) return folderWithSeparator(program.folder);
    return folderWithSeparator(QDir(documentsFolder).filePath(kUserFolder));
}

QString calibrationFilePath(bool currentFolderWritable, const QString& configFolder) {
    const QString name = QString::fromLatin1(kCalDataFileName);
    if (currentFolderWritable) return name;
    return QDir(configFolder).filePath(kUserFolder + QLatin1Char('/') + name);
}

ProgramPlace thisProgram() {
    ProgramPlace p;
    p.folder = QCoreApplication::applicationDirPath();
    p.writable = QFileInfo(p.folder).isWritable();
    p.installed = QFileInfo::exists(
        QDir(p.folder).filePath(QStringLiteral("../share/applications/zta-k7.desktop")));
    return p;
}

QString startRecordFolder() {
    return startRecordFolder(thisProgram(),
                             QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
}

QString calibrationFilePath() {
    return calibrationFilePath(
        QFileInfo(QDir::currentPath()).isWritable(),
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
}

bool loadQtRussian() {
    auto* translator = new QTranslator(QCoreApplication::instance());
    // qt_ru gathers the Qt modules' catalogues; qtbase_ru alone has the widgets' texts.
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (translator->load(QStringLiteral("qt_ru"), folder) ||
        translator->load(QStringLiteral("qtbase_ru"), folder))
        return QCoreApplication::installTranslator(translator);
    delete translator;
    return false;
}

}  // namespace zta
