#pragma once

#include "calibration/Calibration.h"

#include <QDomDocument>
#include <QString>

// The XML form of the outside program's map.

// The XML document component: parses one file at a time, synchronously, without validation and
// without fetching anything the file refers to.
class TXMLDocument {
public:
    // Closes any open document, then parses FileName. Raises Exception with the parser's
    // description, CR LF, "Line: n", CR LF and up to 40 characters of the source at the error.
    void LoadFromFile(const QString& FileName);
    void Close();
    bool Active() const { return active_; }
    const QDomDocument& Document() const { return doc_; }

private:
    QDomDocument doc_;
    bool active_ = false;
};

// Name look-ups: the first node whose full name or local name equals Name; Index is -1 when none.
bool FindChildNode(const QDomNode& Node, const QString& Name, int& Index);
bool FindAttribute(const QDomNode& Node, const QString& Name, int& Index);

bool LoadXmlCalibration(TCalibrationList& List, const QDomNode& Root, const QString& CatalogueName,
                        int Id);
// Shows "Не найден корень XML" and returns an empty list when the root is missing. Conversion
// errors propagate and end the command.
TCalibrationList ReadXmlMap(const TXMLDocument& Doc);
