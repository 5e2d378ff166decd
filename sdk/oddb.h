#pragma once

// Enumerations of the drawing database.
namespace OdDb
{
enum OpenMode
{
    kNotOpen = -1,
    kForRead = 0,
    kForWrite = 1,
    kForNotify = 2,
};

// The format a drawing file was read from.
enum SaveType
{
    kDwg = 0,
    kDxf = 1,
    kDxb = 2,
};

// The file format release of a drawing.
enum DwgVersion
{
    kDHL_MC0_0 = 0,
    kDHL_AC1_2 = 1,
    kDHL_AC1_40 = 2,
    kDHL_AC1_50 = 3,
    kDHL_AC2_20 = 4,
    kDHL_AC2_10 = 5,
    kDHL_AC2_21 = 6,
    kDHL_AC2_22 = 7,
    kDHL_1001 = 8,
    vAC025 = 9,
    vAC026 = 10,
    vAC09 = 11,
    kDHL_1005 = 12,
    vAC10 = 13,
    kDHL_1007 = 14,
    kDHL_1008 = 15,
    vAC12 = 16,
    kDHL_1010 = 17,
    kDHL_1011 = 18,
    vAC13 = 19,
    vAC14beta = 20,
    vAC14 = 21,
    kDHL_1500 = 22,
    vAC15 = 23,
    kDHL_1800a = 24,
    vAC18 = 25,
    kDHL_2100a = 26,
    vAC21 = 27,
    kDHL_2400a = 28,
    vAC24 = 29,
    kDHL_2700a = 30,
    vAC27 = 31,
    kDHL_Unknown = 32766,
};
} // namespace OdDb
