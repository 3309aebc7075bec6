// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where the station keeps its files. A station run from its build folder keeps them beside it;
// an installed one (its folder not writable, or a system folder) keeps records in the user's
// documents folder and the calibration file in the user's configuration folder.
#include <QString>

namespace zta {

struct ProgramPlace {
    QString folder;          // the folder of the program file
    bool writable = false;   // the user may create files there
    bool installed = false;  // installed with its menu entry (even root must not litter /usr/bin)
};

// `folder` with native separators and one trailing separator, as record file names expect.
QString folderWithSeparator(const QString& folder);

// The record folder at start: the program's folder while it is the user's to write, else
// `documentsFolder` + "ZTA-K7" (made with the first record).
QString startRecordFolder(const ProgramPlace& program, const QString& documentsFolder);

// The calibration file: the bare name (the current folder) while that folder is writable, else
// `configFolder` + "ZTA-K7/CalDataK7.cfg".
QString calibrationFilePath(bool currentFolderWritable, const QString& configFolder);

// The same rules applied to the running program and the user's standard folders.
ProgramPlace thisProgram();
QString startRecordFolder();
QString calibrationFilePath();

// Installs Qt's own Russian translation (buttons, file dialogs) from Qt's translations folder;
// false when it is not installed there.
bool loadQtRussian();

}  // namespace zta
