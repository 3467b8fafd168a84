#pragma once

#include <QString>

// The settings record: the one row of SysSet.
class TConfig {
public:
    bool bPass = false;
    // The stored form of the login password (see UntPassHash.h); empty when none is set.
    QString PassWord;
    // A desktop notification goes with every alert.
    bool bNotify = true;
    QString SqlText;

    // Reads the first row; an empty table reads as no password.
    void Load();
    // Writes the fields into the row.
    void Save();
};

extern TConfig* ConfigData;
