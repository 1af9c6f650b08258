#include "mapfiles/XmlImport.h"

#include "calibration/Exceptions.h"
#include "calibration/Messages.h"
#include "calibration/TextConv.h"
#include "calibration/UFuncHex.h"
#include "mapfiles/Catalogue.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <cstdint>
#include <functional>

namespace {

const QString RootName = QStringLiteral("BRELVAMONDIKA_by_Quilby_DM");

// A map is three levels deep; anything far deeper is hostile, and the DOM both builds and frees
// deep trees recursively (100,000 levels take minutes and then overflow the stack).
constexpr int MaxDepth = 256;
// Many references to one entity blow a small file up: entity references may add at most this
// many characters in all.
constexpr qint64 MaxEntityGrowth = 1'000'000;
constexpr int ExcerptLength = 40;

// The parse failure as the user sees it: the parser's description, the line, and the source
// text at the error.
[[noreturn]] void RaiseParseError(const QString& Reason, qint64 Line, const QString& Excerpt) {
    throw Exception(QStringLiteral("%1\r\nLine: %2\r\n%3").arg(Reason).arg(Line).arg(Excerpt));
}

// The document's text as the parser decoded it: a byte-order mark or UTF-16/32 layout first,
// then the encoding the XML declaration names, else UTF-8.
QString DecodeLikeParser(const QByteArray& Bytes, const QString& DeclaredEncoding) {
    if (const auto byLayout = QStringConverter::encodingForData(Bytes, u'<'))
        return QStringDecoder(*byLayout).decode(Bytes);
    if (!DeclaredEncoding.isEmpty()) {
        QStringDecoder decoder(DeclaredEncoding.toLatin1().constData());
        if (decoder.isValid())
            return decoder.decode(Bytes);
    }
    return QStringDecoder(QStringConverter::Utf8).decode(Bytes);
}

// Up to 40 characters of the error's line, from the last character the parser read (its
// position is the count of characters read on that line, from 0).
QString SourceExcerpt(const QByteArray& Bytes, const QString& DeclaredEncoding, qint64 Line,
                      qint64 Column) {
    if (Line < 1)
        return QString();
    // Line ends as the parser counts them: CR LF, CR or LF.
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
    const QString text = DecodeLikeParser(Bytes, DeclaredEncoding);
    qsizetype start = 0;
    for (qint64 l = 1; l < Line; ++l) {
        const QRegularExpressionMatch m = lineEnd.match(text, start);
        if (!m.hasMatch())
            return QString();
        start = m.capturedEnd();
    }
    const QRegularExpressionMatch m = lineEnd.match(text, start);
    const QString line = text.mid(start, m.hasMatch() ? m.capturedStart() - start : -1);
    return line.mid(qMax<qint64>(0, Column - 1), ExcerptLength);
}

// The longest text that a reference to any of the declared entities can expand to. Character
// references are already replaced in the values; a reference to an undeclared entity stays as
// written. An entity that refers to itself, directly or not, counts as too long.
qint64 LongestExpansion(const QXmlStreamEntityDeclarations& Declarations, qint64 Cap) {
    QHash<QString, QString> values;
    for (const QXmlStreamEntityDeclaration& declaration : Declarations)
        values.insert(declaration.name().toString(), declaration.value().toString());
    QHash<QString, qint64> lengths;
    const std::function<qint64(const QString&)> length = [&](const QString& Name) -> qint64 {
        if (const auto it = lengths.constFind(Name); it != lengths.cend())
            return *it;
        lengths.insert(Name, Cap); // while it is being measured: a cycle counts as too long
        const QString value = values.value(Name);
        qint64 total = 0;
        for (qsizetype i = 0; i < value.size() && total < Cap; ++i) {
            const qsizetype end = value[i] == u'&' ? value.indexOf(u';', i) : -1;
            if (end < 0) {
                ++total;
                continue;
            }
            const QString reference = value.mid(i + 1, end - i - 1);
            total += values.contains(reference) ? length(reference) : 1;
            i = end;
        }
        lengths.insert(Name, qMin(total, Cap));
        return qMin(total, Cap);
    };
    qint64 longest = 0;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        longest = qMax(longest, length(it.key()));
    return longest;
}

// Reads the whole document once without building anything, to refuse what the DOM should not
// be given: malformed XML, too deep a tree, runaway entity expansion.
void CheckDocument(const QByteArray& Bytes) {
    QXmlStreamReader reader(Bytes);
    reader.setNamespaceProcessing(true);
    QString encoding;
    QString guardReason;
    int depth = 0;
    while (!reader.atEnd() && guardReason.isEmpty()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartDocument:
            encoding = reader.documentEncoding().toString();
            break;
        case QXmlStreamReader::DTD:
            // The parser bounds what one entity expands to, not how often a small file refers to
            // it, and it hands out a text node whole: count the worst case before it is built.
            if (!reader.entityDeclarations().isEmpty()) {
                const qint64 longest = LongestExpansion(reader.entityDeclarations(),
                                                        reader.entityExpansionLimit() + 1);
                const qint64 references = DecodeLikeParser(Bytes, encoding).count(u'&');
                if (references * longest > MaxEntityGrowth)
                    guardReason = QStringLiteral("Entity references expand to too much text.");
            }
            break;
        case QXmlStreamReader::StartElement:
            if (++depth > MaxDepth)
                guardReason =
                    QStringLiteral("Elements are nested more than %1 deep.").arg(MaxDepth);
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
    if (reader.hasError())
        guardReason = reader.errorString();
    if (!guardReason.isEmpty())
        RaiseParseError(guardReason, reader.lineNumber(),
                        SourceExcerpt(Bytes, encoding, reader.lineNumber(), reader.columnNumber()));
}

bool SameAsciiCaseless(const QString& A, const QString& B) {
    if (A.size() != B.size())
        return false;
    for (qsizetype i = 0; i < A.size(); ++i) {
        char16_t a = A[i].unicode();
        char16_t b = B[i].unicode();
        if (a >= u'A' && a <= u'Z')
            a += u'a' - u'A';
        if (b >= u'A' && b <= u'Z')
            b += u'a' - u'A';
        if (a != b)
            return false;
    }
    return true;
}

// A node answers to its full name or to the part after its namespace prefix.
bool NameMatches(const QDomNode& Node, const QString& Name) {
    return Node.nodeName() == Name || (!Node.localName().isEmpty() && Node.localName() == Name);
}

void ReverseIdBytes(QString& IdMox) {
    IdMox = IdMox.mid(6, 2) + IdMox.mid(4, 2) + IdMox.mid(2, 2) + IdMox.mid(0, 2);
}

int TableType(const QString& Graf) {
    if (Graf == QLatin1StringView("1D"))
        return 1;
    if (Graf == QLatin1StringView("2D"))
        return 2;
    if (Graf == QLatin1StringView("3D"))
        return 3;
    return 0;
}

} // namespace

void TXMLDocument::LoadFromFile(const QString& FileName) {
    Close();
    QFile file(FileName);
    // Only a regular file: opening a named pipe or a device could block for ever.
    const QFileInfo info(FileName);
    if (info.exists() && !info.isFile())
        RaiseParseError(QStringLiteral("Not a regular file: %1").arg(FileName), 0, QString());
    if (!file.open(QIODevice::ReadOnly))
        RaiseParseError(file.errorString(), 0, QString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        RaiseParseError(file.errorString(), 0, QString());
    file.close();

    CheckDocument(bytes);
    // No entity resolver is installed, so nothing outside the file is ever read.
    QXmlStreamReader reader(bytes);
    reader.setNamespaceProcessing(true);
    QDomDocument doc;
    QString reason;
    int line = 0;
    int column = 0;
    if (!doc.setContent(&reader, true, &reason, &line, &column))
        RaiseParseError(reason, line, SourceExcerpt(bytes, QString(), line, column));
    doc_ = std::move(doc);
    active_ = true;
}

void TXMLDocument::Close() {
    doc_ = QDomDocument();
    active_ = false;
}

bool FindChildNode(const QDomNode& Node, const QString& Name, int& Index) {
    Index = -1;
    // Inside a namespace, only children of that namespace count.
    const QString nameSpace = Node.isElement() ? Node.namespaceURI() : QString();
    const QDomNodeList children = Node.childNodes();
    for (int i = 0; i < children.count(); ++i) {
        const QDomNode child = children.item(i);
        if (!nameSpace.isEmpty() && !SameAsciiCaseless(child.namespaceURI(), nameSpace))
            continue;
        if (NameMatches(child, Name)) {
            Index = i;
            return true;
        }
    }
    return false;
}

// The DOM keeps attributes in no particular order, so Index is a position in attributes() as
// the DOM lists them. Whether any attribute matches does not depend on that order.
bool FindAttribute(const QDomNode& Node, const QString& Name, int& Index) {
    Index = -1;
    const QDomNamedNodeMap attributes = Node.attributes();
    for (int i = 0; i < attributes.count(); ++i) {
        if (NameMatches(attributes.item(i), Name)) {
            Index = i;
            return true;
        }
    }
    return false;
}

bool TCalibration::ReadAttribute(const QDomNode& Node, const QString& AttrName, bool Complain,
                                 QString& Value) const {
    int index;
    if (!FindAttribute(Node, AttrName, index)) {
        if (Complain)
            ShowMessage(QStringLiteral("Не могу определить ") + AttrName + QStringLiteral(" (") +
                        Name + QStringLiteral(")"));
        return false;
    }
    // The value is that of the attribute of exactly this full name; one found through its local
    // name alone (p:graf for graf) reads as empty. QDomElement::attribute() would take p:graf.
    Value.clear();
    const QDomNamedNodeMap attributes = Node.attributes();
    for (int i = 0; i < attributes.count(); ++i) {
        const QDomAttr attribute = attributes.item(i).toAttr();
        if (attribute.nodeName() == AttrName) {
            Value = attribute.value();
            break;
        }
    }
    return true;
}

bool TCalibration::XmlLoad(const QDomNode& Xml, int IdConst, const QString& NewName) {
    IsLoaded = false;
    Name = NormalizeName(NewName);
    Id = IdConst;

    QString text;
    const auto required = [&](const QString& AttrName) {
        return ReadAttribute(Xml, AttrName, true, text);
    };

    if (!required(QStringLiteral("graf")))
        return false;
    TypeTable = TableType(text);

    if (TypeTable == 1) {
        if (!required(QStringLiteral("Делитель_шага")))
            return false;
        ValueDivision = StrToFloat(text);
        if (!required(QStringLiteral("Смещение")))
            return false;
        ValueOffset = StrToFloat(text);
        if (!required(QStringLiteral("Шаг")))
            return false;
        ValueStep = StrToFloat(text);
        ByteLength = 1;
    } else if (TypeTable == 2 || TypeTable == 3) {
        if (!required(QStringLiteral("Число_точек_по_оси_X")))
            return false;
        ByteLength = StrToInt(text);
        if (TypeTable == 3) {
            if (!required(QStringLiteral("Число_графиков_по_оси_Z")))
                return false;
            // 32-bit product that wraps, as the outside program computes it.
            ByteLength = int32_t(uint32_t(StrToInt(text)) * uint32_t(ByteLength));
        }
        if (!required(QStringLiteral("Делитель_шага_по_Y")))
            return false;
        ValueDivision = StrToFloat(text);
        if (!required(QStringLiteral("Смещение_по_оси_Y")))
            return false;
        ValueOffset = StrToFloat(text);
        if (!required(QStringLiteral("Шаг_по_Y")))
            return false;
        ValueStep = StrToFloat(text);
    }

    if (ReadAttribute(Xml, QStringLiteral("ID"), false, text))
        IdMox = text;
    // The file writes the identifier least significant byte first.
    ReverseIdBytes(IdMox);

    if (!required(QStringLiteral("Тип_тарировки")))
        return false;
    TypeTaring = StrToInt(text);
    if (!required(QStringLiteral("address")))
        return false;
    ByteAdress = HexToInt(text);
    if (ReadAttribute(Xml, QStringLiteral("Обратный_мультипликативный"), false, text))
        CoefRevMyl = StrToFloat(text);

    IsLoaded = true;
    return true;
}

bool LoadXmlCalibration(TCalibrationList& List, const QDomNode& Root, const QString& CatalogueName,
                        int Id) {
    int index;
    if (!FindChildNode(Root, CatalogueName, index))
        return false;
    auto calibration = std::make_unique<TCalibration>();
    if (!calibration->XmlLoad(Root.childNodes().item(index), Id, CatalogueName))
        return false;
    List.Add(std::move(calibration));
    return true;
}

TCalibrationList ReadXmlMap(const TXMLDocument& Doc) {
    TCalibrationList list;
    int index;
    if (!FindChildNode(Doc.Document(), RootName, index)) {
        ShowMessage(QStringLiteral("Не найден корень XML"));
        return list;
    }
    const QDomNode root = Doc.Document().childNodes().item(index);
    LoadCatalogueCalibrations([&](const QString& CatalogueName, int Id) {
        return LoadXmlCalibration(list, root, CatalogueName, Id);
    });
    return list;
}
