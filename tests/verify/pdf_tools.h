// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the protocol tests need around a PDF: a GUI application to draw with, and poppler's
// tools to read the document back as an archive would.
#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace zta::verify {

inline void needGui() {
    static int argc = 1;
    static char name[] = "zta_verify_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QGuiApplication(argc, argv);
    }
}

// A poppler tool's output on `pdf`.
inline QString poppler(const QString& tool, QStringList args, const QByteArray& pdf) {
    QTemporaryDir dir;
    const QString path = dir.filePath("p.pdf");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(pdf) != pdf.size()) return "cannot write";
    f.close();
    args << path;
    if (tool == "pdftotext") args << "-";
    QProcess p;
    p.start(tool, args);
    if (!p.waitForFinished(60000)) return tool + " did not run";
    return QString::fromUtf8(p.readAllStandardOutput());
}

// One page of PDF/A-1b with every font embedded; its text for the caller to look into.
inline QString archivalText(const QByteArray& pdf) {
    const QString info = poppler("pdfinfo", {}, pdf);
    EXPECT_TRUE(info.contains(QRegularExpression("Pages:\\s+1\\n"))) << info.toStdString();
    const QString meta = poppler("pdfinfo", {"-meta"}, pdf);
    // The mark is either attributes or elements of the XMP description.
    EXPECT_TRUE(meta.contains(QRegularExpression("pdfaid:part(=\"1\"|>1<)"))) << meta.toStdString();
    EXPECT_TRUE(meta.contains(QRegularExpression("pdfaid:conformance(=\"B\"|>B<)")))
        << meta.toStdString();

    const QStringList fonts = poppler("pdffonts", {}, pdf).split('\n', Qt::SkipEmptyParts);
    EXPECT_GT(fonts.size(), 2) << "no font listed";
    for (const QString& font : fonts.mid(2)) {
        EXPECT_TRUE(font.contains("DejaVuSans")) << font.toStdString();
        EXPECT_TRUE(font.contains(QRegularExpression("\\byes\\s+(yes|no)\\s+(yes|no)\\s+\\d+")))
            << "not embedded: " << font.toStdString();
    }
    return poppler("pdftotext", {"-layout"}, pdf);
}

}  // namespace zta::verify
