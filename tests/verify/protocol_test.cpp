// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/protocol.h"

#include <gtest/gtest.h>

#include "pdf_tools.h"

namespace zta::verify {
namespace {

using namespace std::chrono;

ProtocolData protocol() {
    ProtocolData d;
    d.number = protocolNumber("ST", 2026, 17);
    d.lab = "Лаборатория газового контроля";
    d.station = "ST";
    d.conditions = {"Петров П. П.", "21.5 °C", "100.8 кПа", "48 %"};
    d.date = QDateTime(QDate(2026, 12, 11), QTime(11, 30));
    d.analyzer.id = 3;
    d.analyzer.factoryNumber = 40217;
    d.analyzer.networkNumber = 12;
    d.analyzer.gasCode = 1;
    d.analyzer.unit = Unit::VolumePercent;
    d.analyzer.range = 4.4;
    d.analyzer.softwareVersion = "v1.4";
    d.analyzer.softwareId = "0123456789ABCDEF0123456789ABCDEF";
    d.analyzer.threshold1 = 20;
    d.analyzer.threshold2 = 50;
    d.method = defaultMethod("МП-К7 метан", 1, 100, Unit::Lel);
    d.method.version = 3;
    for (double v : {0.0, 2.2, 3.96}) {
        Cylinder c;
        c.number = v == 0 ? "ВОЗДУХ" : "Б-" + std::to_string(int(v * 100));
        c.gasCode = v == 0 ? 0 : 1;
        c.certified = v;
        c.certificate = "ПС-77";
        c.uncertainty = {2.0, true};
        c.expires = Date{year{2027}, month{5}, day{31}};
        d.cylinders.push_back(c);
    }
    PointResult zero;
    zero.point = 0;
    zero.averageLel = 6.4;
    zero.error = {6.4, 0.2816, 5.0, false};
    PointResult zeroAfter = zero;
    zeroAfter.afterAdjustment = true;
    zeroAfter.averageLel = 0.2;
    zeroAfter.error = {0.2, 0.0088, 5.0, true};
    PointResult mid;
    mid.point = 1;
    mid.status = PointStatus::NoContact;
    PointResult top;
    top.point = 2;
    top.certifiedLel = 90;
    top.averageLel = 91.25;
    top.averageUnit = 4.015;
    top.error = {1.25, 0.055, 5.0, true};
    top.t90 = 12.34;
    top.relay1Trip = 21.5;
    d.results = {zero, zeroAfter, mid, top};
    d.verdict = {false, {"точка 2: нет связи", "порог 2: реле не сработало"}};
    return d;
}

TEST(Protocol, ArchivalPdfWithTheEmbeddedFontAndEveryValue) {
    needGui();
    QString error;
    const QByteArray pdf = protocolPdf(protocol(), &error);
    ASSERT_FALSE(pdf.isEmpty()) << error.toStdString();

    const QString text = archivalText(pdf);
    for (const char* expected : {"Протокол поверки № ST-2026-17",
                                 "Лаборатория газового контроля",
                                 "Петров П. П.",
                                 "21.5 °C",
                                 "заводской № 40217, сетевой № 12, газ: Метан",
                                 "версия v1.4",
                                 "0123456789ABCDEF0123456789ABCDEF",
                                 "МП-К7 метан, версия 3",
                                 "ВОЗДУХ",
                                 "Б-396",
                                 "ПС-77",
                                 "2027-05-31",
                                 "6.40 %НКПР",
                                 "0.20 %НКПР",
                                 "нет связи",
                                 "91.25 %НКПР",
                                 "(4.015 % об.)",
                                 "соответствует",
                                 "t0,9: 12.3 с при пределе 30.0 с",
                                 "Порог 1: 20 %НКПР, срабатывание при 21.5",
                                 "Порог 2: 50 %НКПР, срабатывание при -",
                                 "Заключение: не годен",
                                 "порог 2: реле не сработало",
                                 "Поверитель"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected << "\n---\n"
                                                                << text.toStdString();
}

TEST(Protocol, SummaryAsPdfAndCsv) {
    needGui();
    SummaryData d;
    d.station = "ST";
    d.methodName = "МП-К7";
    d.methodVersion = 2;
    d.date = QDateTime(QDate(2026, 12, 11), QTime(12, 0));
    AnalyzerInfo a;
    a.factoryNumber = 101;
    a.networkNumber = 1;
    AnalyzerInfo b = a;
    b.factoryNumber = 102;
    b.networkNumber = 2;
    AnalyzerInfo c = a;
    c.factoryNumber = 103;
    c.networkNumber = 3;
    d.lines = {
        {"ST-2026-1", a, {true, {}}},
        {"ST-2026-2",
         b,
         {false, {"точка 1: погрешность 6.40 %НКПР при пределе ±5.00", "точка 2: нет связи"}}},
        {"ST-2026-3", c, {false, {"=HYPERLINK(1)"}}}};
    QString error;
    const QByteArray pdf = summaryPdf(d, &error);
    ASSERT_FALSE(pdf.isEmpty()) << error.toStdString();
    const QString text = poppler("pdftotext", {"-layout"}, pdf);
    EXPECT_TRUE(text.contains("ST-2026-2")) << text.toStdString();
    EXPECT_TRUE(text.contains("не годен")) << text.toStdString();
    EXPECT_EQ(summaryCsv(d).toStdString(),
              "протокол;заводской номер;сетевой номер;заключение;не выполнено\n"
              "ST-2026-1;101;1;годен;\n"
              "ST-2026-2;102;2;не годен;\"точка 1: погрешность 6.40 %НКПР при пределе ±5.00; "
              "точка 2: нет связи\"\n"
              "ST-2026-3;103;3;не годен;'=HYPERLINK(1)\n");
}

}  // namespace
}  // namespace zta::verify
