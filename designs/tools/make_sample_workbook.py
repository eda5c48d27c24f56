#!/usr/bin/python3
"""Writes the sample catalogue Data.xls of the Standard/Modern design.

Usage: /usr/bin/python3 designs/tools/make_sample_workbook.py [OUTPUT]

OUTPUT ends in .xls (the default, the design's Data.xls), .xlsx, .ods or .csv;
the other formats hold the same catalogue (see workbook_formats.py). The first
row holds the column titles; each further row is one item: code, group, name,
maker, price, flag ("0" = no badge; "1", "NEW", "SALE" ...), description.
Needs python3-xlwt (and python3-openpyxl for .xlsx).
"""
import os
import sys

import xlwt

TITLES = ["Code", "Group", "Name", "Maker", "Price", "Flag", "Description"]

# (code, group, name, maker, price, flag, description)
ITEMS = [
    # Bakeware
    ("BK-101", "Bakeware", "Crème brûlée ramekins, set of 4", "Maison Bérard", 3200, "NEW",
     "Glazed stoneware ramekins that go from oven to table. Dishwasher safe."),
    ("BK-102", "Bakeware", "Fluted tart tin 24 cm", "Maison Bérard", 2400, 0,
     "Loose-base tin for crisp pastry edges and easy release."),
    ("BK-103", "Bakeware", "Madeleine tray, 12 shells", "Maison Bérard", 2900, 0,
     "Deep shells for the classic hump; non-stick coated steel."),
    ("BK-104", "Bakeware", "Pâtisserie rolling pin", "Atelier Lumière", 1800, 0,
     "Tapered beech pin, 50 cm, oiled by hand."),
    ("BK-105", "Bakeware", "Proofing basket, round", "Atelier Lumière", 2100, 1,
     "Rattan banneton with linen liner for a 750 g loaf."),
    ("BK-106", "Bakeware", "Enamel loaf pan", "Hallmann Backwerk", 2600, 0,
     "Heavy enamelled steel that browns evenly on every side."),
    ("BK-107", "Bakeware", "Springform pan 26 cm", "Hallmann Backwerk", 2800, 0,
     "Leak-proof clasp and a flat glass base you can serve from."),
    ("BK-108", "Bakeware", "Cooling rack, stackable", "Hallmann Backwerk", 1500, 0,
     "Three tiers that fold flat when the baking is done."),
    ("BK-109", "Bakeware", "Bench scraper", "Atelier Lumière", 900, 0,
     "Stainless blade with an ash handle and a ruler along the edge."),
    ("BK-110", "Bakeware", "Baking stone 38 cm", "Hallmann Backwerk", 4800, "SALE",
     "Cordierite stone for pizza and hearth breads; holds heat for long bakes."),
    # Chef's Tools (an apostrophe in the group name)
    ("CT-201", "Chef's Tools", "Balloon whisk 30 cm", "Kessler Küchen", 1400, 0,
     "Twelve wires for fast cream and light egg whites."),
    ("CT-202", "Chef's Tools", "Offset spatula", "Kessler Küchen", 1100, 0,
     "Thin flexible blade for icing, lifting and smoothing."),
    ("CT-203", "Chef's Tools", "Mandoline slicer", "Kessler Küchen", 5200, "NEW",
     "Four thicknesses and a julienne blade, with a hand guard."),
    ("CT-204", "Chef's Tools", "Mortero de granito", "Señor Cocina", 3600, 0,
     "Granite mortar and pestle for pastes, spices and alioli."),
    ("CT-205", "Chef's Tools", "Paella spoon, olive wood", "Señor Cocina", 1300, 0,
     "Long flat spoon that reaches the socarrat without scratching."),
    ("CT-206", "Chef's Tools", "Citrus press", "Señor Cocina", 2200, 0,
     "Cast aluminium lever press for lemons, limes and oranges."),
    ("CT-207", "Chef's Tools", "Kitchen tweezers", "Atelier Lumière", 1600, 0,
     "Precision tips for plating, 30 cm."),
    ("CT-208", "Chef's Tools", "Digital scale, 0.1 g", "Kessler Küchen", 3900, 1,
     "Weighs to a tenth of a gram up to 2 kg; tare and unit buttons."),
    ("CT-209", "Chef's Tools", "Herb scissors", "Atelier Lumière", 1900, 0,
     "Five blades cut chives and parsley in one pass."),
    ("CT-210", "Chef's Tools", "Piping set, 24 pieces", "Kessler Küchen", 2500, 0,
     "Stainless tips, couplers and reusable bags in a tin."),
    # Cookware
    ("CW-301", "Cookware", "Cocotte ronde 24 cm", "Maison Bérard", 18500, 0,
     "Enamelled cast iron casserole for slow braises and bread."),
    ("CW-302", "Cookware", "Sauteuse 28 cm", "Maison Bérard", 14200, "NEW",
     "Straight sides, two handles and a tight lid."),
    ("CW-303", "Cookware", "Copper saucepan 16 cm", "Fonderie Gaël", 21000, 0,
     "Tin-lined hammered copper with a cast bronze handle."),
    ("CW-304", "Cookware", "Carbon steel crêpe pan", "Fonderie Gaël", 4200, 0,
     "Low edges for easy flipping; seasons to a natural non-stick."),
    ("CW-305", "Cookware", "Oval gratin dish", "Fonderie Gaël", 5600, 0,
     "Cast iron gratin for dauphinois and roast vegetables."),
    ("CW-306", "Cookware", "Stock pot 8 L", "Kessler Küchen", 9800, 0,
     "Tri-ply base that suits gas, electric and induction."),
    ("CW-307", "Cookware", "Frying pan 26 cm", "Kessler Küchen", 7400, "SALE",
     "Stainless steel pan that sears well and goes in the oven."),
    ("CW-308", "Cookware", "Wok 32 cm", "Señor Cocina", 5100, 0,
     "Spun carbon steel with a wooden helper handle."),
    ("CW-309", "Cookware", "Paellera 38 cm", "Señor Cocina", 3900, 0,
     "Polished steel paella pan for six to eight servings."),
    ("CW-310", "Cookware", "Steamer insert", "Kessler Küchen", 3300, 0,
     "Fits the 24 cm pots of the range; glass lid included."),
    # Knives
    ("KN-401", "Knives", "Gyuto 210 mm", "Seki Kōbō", 16800, "NEW",
     "Chef's knife of layered steel with an octagonal walnut handle."),
    ("KN-402", "Knives", "Santoku 165 mm", "Seki Kōbō", 12400, 0,
     "All-purpose blade for vegetables, fish and meat."),
    ("KN-403", "Knives", "Petty knife 120 mm", "Seki Kōbō", 8600, 0,
     "Small utility knife for peeling and fine work."),
    ("KN-404", "Knives", "Nakiri 165 mm", "Seki Kōbō", 11900, 0,
     "Flat-edged vegetable knife that cuts cleanly to the board."),
    ("KN-405", "Knives", "Kokkekniv 20 cm", "Søren Stål", 9200, 0,
     "Scandinavian chef's knife with a birch handle."),
    ("KN-406", "Knives", "Brødkniv 23 cm", "Søren Stål", 6300, 0,
     "Serrated bread knife that leaves the crumb intact."),
    ("KN-407", "Knives", "Filleting knife 18 cm", "Søren Stål", 7100, 1,
     "Flexible blade for salmon and flat fish."),
    ("KN-408", "Knives", "Couteau d'office", "Maison Bérard", 3400, 0,
     "Classic paring knife with a riveted olive-wood handle."),
    ("KN-409", "Knives", "Whetstone 1000/6000", "Seki Kōbō", 5800, 0,
     "Combination stone for sharpening and polishing, with a base."),
    ("KN-410", "Knives", "Magnetic knife rail", "Søren Stål", 4500, 0,
     "Oak rail with hidden magnets; holds six knives."),
    # Textiles (a maker with an apostrophe)
    ("TX-501", "Textiles", "Linen apron", "Maison d'Été", 4800, 0,
     "Stonewashed linen with a long tie and a deep pocket."),
    ("TX-502", "Textiles", "Tea towels, set of 3", "Maison d'Été", 2700, "NEW",
     "Absorbent linen-cotton towels in striped, checked and plain."),
    ("TX-503", "Textiles", "Nappe à carreaux", "Maison d'Été", 6900, 0,
     "Checked tablecloth, 150 x 250 cm."),
    ("TX-504", "Textiles", "Oven gloves", "Åsa Textil", 2300, 0,
     "Quilted cotton double glove with a heat-proof lining."),
    ("TX-505", "Textiles", "Table runner", "Åsa Textil", 3100, 0,
     "Woven runner with a subtle herringbone pattern."),
    ("TX-506", "Textiles", "Napkins, set of 6", "Åsa Textil", 3800, 0,
     "Soft washed cotton in six shades of the sea."),
    ("TX-507", "Textiles", "Bread bag", "Maison d'Été", 1600, 1,
     "Linen bag that keeps a loaf crusty for days."),
    ("TX-508", "Textiles", "Furoshiki wrapping cloth", "Kobe Weaving", 2000, 0,
     "Printed cotton square for lunch boxes and gifts."),
    ("TX-509", "Textiles", "Noren curtain", "Kobe Weaving", 5400, 0,
     "Split doorway curtain in indigo-dyed cotton."),
    ("TX-510", "Textiles", "Sashiko coasters", "Kobe Weaving", 1700, 0,
     "Hand-stitched coasters, set of four."),
    # Japanese tableware
    ("WS-601", "和食器", "有田焼 飯碗", "有田窯", 2800, "NEW",
     "手描きの藍の模様が美しい、毎日使えるご飯茶碗です。"),
    ("WS-602", "和食器", "有田焼 小皿 五枚組", "有田窯", 4500, 0,
     "取り皿や醤油皿に便利な小皿のセット。"),
    ("WS-603", "和食器", "染付 湯呑", "有田窯", 2200, 0,
     "手になじむ形の湯呑。緑茶やほうじ茶に。"),
    ("WS-604", "和食器", "波佐見焼 マグカップ", "波佐見陶房", 2600, 0,
     "電子レンジと食洗機に対応した丈夫なマグ。"),
    ("WS-605", "和食器", "波佐見焼 深鉢", "波佐見陶房", 3600, "SALE",
     "煮物やサラダに使いやすい深めの鉢。"),
    ("WS-606", "和食器", "波佐見焼 平皿 24cm", "波佐見陶房", 3200, 0,
     "パスタにも和食にも合うシンプルな平皿。"),
    ("WS-607", "和食器", "美濃焼 土鍋 八寸", "美濃焼工房", 8800, 0,
     "三〜四人用の土鍋。直火で使えます。"),
    ("WS-608", "和食器", "美濃焼 急須", "美濃焼工房", 4300, 1,
     "茶こし付きで茶葉がよく開く急須。"),
    ("WS-609", "和食器", "美濃焼 箸置き 五個組", "美濃焼工房", 1500, 0,
     "季節の形をした小さな箸置き。"),
    ("WS-610", "和食器", "漆塗り 汁椀", "輪島塗 工房", 6800, 0,
     "天然木に本漆を塗り重ねた汁椀。"),
]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default = os.path.join(here, "..", "Standard", "Modern", "Data.xls")
    target = sys.argv[1] if len(sys.argv) > 1 else default
    if not target.lower().endswith(".xls"):
        sys.path.insert(0, here)
        import workbook_formats
        workbook_formats.write(target, [("Catalogue", [TITLES] + [list(item) for item in ITEMS])])
        print("%s: %d items" % (os.path.normpath(target), len(ITEMS)))
        return

    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("Catalogue")
    bold = xlwt.easyxf("font: bold on; pattern: pattern solid, fore_colour pale_blue")
    for col, title in enumerate(TITLES):
        sheet.write(0, col, title, bold)
    for row, item in enumerate(ITEMS, start=1):
        for col, value in enumerate(item):
            sheet.write(row, col, value)
    for col, width in enumerate([10, 14, 34, 18, 8, 7, 60]):
        sheet.col(col).width = width * 256
    sheet.set_panes_frozen(True)
    sheet.set_horz_split_pos(1)
    book.save(target)
    print("%s: %d items" % (os.path.normpath(target), len(ITEMS)))


if __name__ == "__main__":
    main()
