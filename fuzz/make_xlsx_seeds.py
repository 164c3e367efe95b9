#!/usr/bin/python3
"""Writes seed inputs for xlsx_reader_fuzz into the folder given: small packages of hand-written parts
(the shapes the reader's tests cover: namespaces, 1904 dates with extension elements, inline strings,
conditional formats, escapes, backslash names, short string tables, missing parts) and bare sheet XML
texts, which the target wraps into a package itself."""
import os
import sys
import zipfile

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
STRICT = "http://purl.oclc.org/ooxml/spreadsheetml/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG = "http://schemas.openxmlformats.org/package/2006/relationships"
CT = "http://schemas.openxmlformats.org/package/2006/content-types"
X15 = "http://schemas.microsoft.com/office/spreadsheetml/2010/11/main"


def package(sheet_data, workbook_extra="", sst=None, styles=None, sep="/", drop=(), ns=MAIN):
    parts = {
        "[Content_Types].xml": f'<Types xmlns="{CT}"><Default Extension="xml" ContentType="application/xml"/></Types>',
        "_rels/.rels": f'<Relationships xmlns="{PKG}"><Relationship Id="rId1" Type="{REL}/officeDocument" '
                       'Target="xl/workbook.xml"/></Relationships>',
        "xl/workbook.xml": f'<workbook xmlns="{ns}" xmlns:r="{REL}" xmlns:x15="{X15}">{workbook_extra}'
                           '<sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>',
        "xl/worksheets/sheet1.xml": f'<worksheet xmlns="{ns}"><sheetData>{sheet_data}</sheetData></worksheet>',
    }
    rels = f'<Relationship Id="rId1" Type="{REL}/worksheet" Target="worksheets/sheet1.xml"/>'
    if sst is not None:
        parts["xl/sharedStrings.xml"] = sst
        rels += f'<Relationship Id="rId2" Type="{REL}/sharedStrings" Target="sharedStrings.xml"/>'
    if styles is not None:
        parts["xl/styles.xml"] = styles
        rels += f'<Relationship Id="rId3" Type="{REL}/styles" Target="styles.xml"/>'
    parts["xl/_rels/workbook.xml.rels"] = f'<Relationships xmlns="{PKG}">{rels}</Relationships>'
    return {name.replace("/", sep): text for name, text in parts.items() if name not in drop}


ROWS = '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" s="1"><v>43831</v></c></row>' \
       '<row r="2"><c r="A2" t="inlineStr"><v>1.</v><is><t>1.</t></is></c><c r="B2" s=""><v>2.5</v></c></row>'
SST = f'<sst xmlns="{MAIN}" count="9" uniqueCount="9"><si><t>a_x0000_b</t></si></sst>'
STYLES = f'<styleSheet xmlns="{MAIN}"><numFmts count="1"><numFmt numFmtId="164" formatCode="0.00"/></numFmts>' \
         '<cellXfs count="2"><xf numFmtId="0"/><xf numFmtId="164"/></cellXfs><dxfs count="1"><dxf>' \
         '<numFmt numFmtId="164" formatCode="yyyy-mm-dd"/></dxf></dxfs></styleSheet>'

SEEDS = {
    "plain.xlsx": package(ROWS, sst=SST, styles=STYLES),
    "date1904_x15.xlsx": package(ROWS, '<workbookPr date1904="1"/><x15:workbookPr chartTrackingRefBase="1"/>',
                                 sst=SST, styles=STYLES),
    "strict.xlsx": package(ROWS, '<workbookPr date1904="true"/>', ns=STRICT),
    "backslash.xlsx": package(ROWS, sst=SST, styles=STYLES, sep="\\"),
    "no_workbook_rels.xlsx": package(ROWS, drop=("xl/_rels/workbook.xml.rels",)),
    "no_sheet_part.xlsx": package(ROWS, drop=("xl/worksheets/sheet1.xml",)),
    "no_content_types.xlsx": package(ROWS, drop=("[Content_Types].xml",)),
}

SHEETS = {
    "sheet_prefixed.xml": f'<x:worksheet xmlns:x="{MAIN}"><x:sheetData><x:row r="1"><x:c r="A1"><x:v>1</x:v>'
                          '</x:c></x:row></x:sheetData></x:worksheet>',
    "sheet_inline.xml": f'<worksheet xmlns="{MAIN}"><sheetData>{ROWS}<row r="3"><c t="inlineStr"><is><t>_xD83D_'
                        '_xDE00__x0000_</t></is></c></row></sheetData></worksheet>',
    "sheet_foreign.xml": f'<worksheet xmlns="{MAIN}" xmlns:e="urn:e"><sheetData><row><e:c><e:v>1</e:v></e:c><c>'
                         '<v>2</v></c></row><e:row r="9"/></sheetData></worksheet>',
}


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, parts in SEEDS.items():
        with zipfile.ZipFile(os.path.join(out, name), "w", zipfile.ZIP_DEFLATED) as z:
            for part, text in parts.items():
                z.writestr(part, text)
    for name, text in SHEETS.items():
        with open(os.path.join(out, name), "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    main()
