#include "mapfiles/Catalogue.h"

namespace {

// Entry 3, the main cyclic filling correction: the two entries after it are its fallbacks.
constexpr size_t MainCorrectionEntry = 2;

} // namespace

const std::array<TCatalogueEntry, 20>& CalibrationCatalogue() {
    // The names are the outside program's own, underscores included: entry 4 really has a
    // doubled underscore before the abbreviation and a trailing one.
    static const std::array<TCatalogueEntry, 20> Catalogue = {{
        {QStringLiteral("Базовое_цикловое_наполнение"), 1, false},
        {QStringLiteral("Цикловое_наполнение_при_аварии_ДМРВ"), 11, false},
        {QStringLiteral("Поправка_циклового_наполнения"), 2, false},
        {QStringLiteral("Поправка_циклового_наполнения__ДМРВ_"), 2, true},
        {QStringLiteral("Поправка_циклового_наполнения_по_дросселю"), 2, true},
        {QStringLiteral("УОЗ_для_экономичного_режима"), 112, false},
        {QStringLiteral("УОЗ_для_работы_с_ДК"), 111, false},
        {QStringLiteral("УОЗ_для_мощностного_режима"), 113, false},
        {QStringLiteral("УОЗ_от_дросселя"), 114, false},
        {QStringLiteral("Квантование_оборотов"), 21, false},
        {QStringLiteral("Таблица_квантования_ДПДЗ"), 22, false},
        {QStringLiteral("Шаг_квантования_GBC"), 23, false},
        {QStringLiteral("Минимум_для_квантования_GBC"), 24, false},
        {QStringLiteral("Статическая_производительность_форсунки"), 41, false},
        {QStringLiteral("Динамическая_производительность_форсунки"), 42, false},
        {QStringLiteral("Фаза_впрыска"), 61, false},
        {QStringLiteral("Прямая_характеристика_РХХ"), 81, false},
        {QStringLiteral("Обратная_характеристика_РХХ"), 82, false},
        {QStringLiteral("Температура_включения_вентилятора"), 101, false},
        {QStringLiteral("Температура_выключения_вентилятора"), 102, false},
    }};
    return Catalogue;
}

void LoadCatalogueCalibrations(const TCatalogueLookUp& LookUp) {
    const auto& catalogue = CalibrationCatalogue();
    bool mainCorrectionAdded = false;
    for (size_t i = 0; i < catalogue.size(); ++i) {
        const TCatalogueEntry& entry = catalogue[i];
        if (entry.OnlyWithoutEntry3 && mainCorrectionAdded)
            continue;
        const bool added = LookUp(entry.Name, entry.Id);
        if (i == MainCorrectionEntry)
            mainCorrectionAdded = added;
    }
}
