// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace zta {

// The controls of the form, by what they show. The numbers are the original form's control ids;
// they name the widgets ("ctlNNNN") and nothing else.
enum class FormField : int {
    None = 0,  // a fixed caption nobody reaches
    ReferenceChannel = 1000,
    WorkingChannel = 1001,
    Concentration = 1003,
    Threshold1 = 1004,
    DValue = 1005,
    Threshold2 = 1006,
    Temperature = 1007,
    NetworkNumber = 1008,
    ConcentrationLel = 1009,
    SoftwareIdentifier = 1010,
    SoftwareName = 1011,
    ReplyCount = 1016,
    LinkIcon = 1023,
    GasName = 1024,
    WorkingChannelLabel = 1026,
    ReferenceChannelLabel = 1027,
    FactoryNumber = 1028,
    LelUnitLabel = 1029,
    DLabel = 1030,
    TemperatureLabel = 1031,
    SoftwareVersion = 1032,
    RelayGroup = 1033,
    HealthLabel = 1034,
    Relay1Label = 1035,
    Relay2Label = 1036,
    HealthRelay = 1038,
    Relay1 = 1039,
    Relay2 = 1040,
    UnitLabel = 1041,
    ThresholdsLabel = 1042,
    SoftwareNameLabel = 1043,
    ResetButton = 1044,
    RequestCount = 1045,
    SoftwareIdentifierLabel = 1046,
    SoftwareGroup = 1047,
    SoftwareVersionLabel = 1048,
};

}  // namespace zta
