"""Synthetic HWPX packages: OWPML XML built from strings, zipped in memory.

Paragraph pieces compose as strings: ``p(run(t("a", TAB, "b")))``; ``package``
zips sections with a content index, header, pictures and any extra entries.
``patch_directory`` rewrites fields of a central-directory record so tests
can make an entry lie about itself.
"""

from __future__ import annotations

import io
import struct
import zipfile
from xml.sax.saxutils import escape, quoteattr

NAMESPACES = (
    'xmlns:hp="http://www.hancom.co.kr/hwpml/2011/paragraph" '
    'xmlns:hs="http://www.hancom.co.kr/hwpml/2011/section" '
    'xmlns:hc="http://www.hancom.co.kr/hwpml/2011/core" '
    'xmlns:hh="http://www.hancom.co.kr/hwpml/2011/head" '
    'xmlns:opf="http://www.idpf.org/2007/opf/"'
)
DECLARATION = '<?xml version="1.0" encoding="UTF-8" standalone="yes" ?>'

TAB = '<hp:tab width="4000" leader="0" type="1"/>'
LINE_BREAK = "<hp:lineBreak/>"
NBSPACE = "<hp:nbSpace/>"
FWSPACE = "<hp:fwSpace/>"
DELETE_BEGIN = '<hp:deleteBegin Id="1" TcId="1"/>'
DELETE_END = '<hp:deleteEnd Id="1" TcId="1" paraend="0"/>'


def text(value: str) -> str:
    return escape(value)


def t(*parts: str) -> str:
    """An hp:t: plain strings are escaped, markup constants kept as they are."""
    markup = {TAB, LINE_BREAK, NBSPACE, FWSPACE, DELETE_BEGIN, DELETE_END}
    return "<hp:t>" + "".join(x if x in markup else escape(x) for x in parts) + "</hp:t>"


def run(*items: str, char: int = 0) -> str:
    return f'<hp:run charPrIDRef="{char}">' + "".join(items) + "</hp:run>"


def p(*items: str, shape: int = 0) -> str:
    """A paragraph; bare strings become runs of text."""
    body = "".join(x if x.startswith("<hp:run") else run(t(x)) for x in items)
    return f'<hp:p id="0" paraPrIDRef="{shape}" styleIDRef="0">{body}</hp:p>'


def sub_list(*paragraphs: str) -> str:
    return "<hp:subList>" + "".join(paragraphs) + "</hp:subList>"


def cell(content: str | list[str], row: int, col: int, rowspan: int = 1, colspan: int = 1) -> str:
    paragraphs = [content] if isinstance(content, str) else content
    body = sub_list(*(x if x.startswith("<hp:p") else p(x) for x in paragraphs))
    return (f"<hp:tc>{body}<hp:cellAddr colAddr=\"{col}\" rowAddr=\"{row}\"/>"
            f"<hp:cellSpan colSpan=\"{colspan}\" rowSpan=\"{rowspan}\"/></hp:tc>")


def table(rows: list[list[str]], row_count: int, col_count: int, caption: str | None = None,
          side: str = "BOTTOM") -> str:
    """rows: lists of cell() strings, one list per hp:tr."""
    cap = f'<hp:caption side="{side}">{sub_list(p(caption))}</hp:caption>' if caption else ""
    trs = "".join("<hp:tr>" + "".join(r) + "</hp:tr>" for r in rows)
    return run(f'<hp:tbl rowCnt="{row_count}" colCnt="{col_count}">{cap}{trs}</hp:tbl>')


def field_begin(ident: str, kind: str, command: str = "", path: str | None = None) -> str:
    params = f'<hp:stringParam name="Command">{escape(command)}</hp:stringParam>'
    if path is not None:
        params += f'<hp:stringParam name="Path">{escape(path)}</hp:stringParam>'
    return (f'<hp:ctrl><hp:fieldBegin id="{ident}" type="{kind}">'
            f"<hp:parameters>{params}</hp:parameters></hp:fieldBegin></hp:ctrl>")


def click_here(ident: str, guide: str, dirty: bool) -> str:
    """A click-here field's begin marker: its guide and whether it was typed into."""
    command = f"Clickhere:set:0:Direction:wstring:{len(guide)}:{guide} "
    return (f'<hp:ctrl><hp:fieldBegin id="{ident}" type="CLICK_HERE" dirty="{int(dirty)}"><hp:parameters>'
            f'<hp:stringParam name="Command">{escape(command)}</hp:stringParam>'
            f'<hp:stringParam name="Direction">{escape(guide)}</hp:stringParam>'
            f"</hp:parameters></hp:fieldBegin></hp:ctrl>")


def field_end(ident: str) -> str:
    return f'<hp:ctrl><hp:fieldEnd beginIDRef="{ident}"/></hp:ctrl>'


def note(kind: str, *paragraphs: str) -> str:
    """kind: footNote, endNote, header or footer."""
    return f"<hp:ctrl><hp:{kind}>{sub_list(*paragraphs)}</hp:{kind}></hp:ctrl>"


def picture(item: str, caption: str | None = None) -> str:
    cap = f"<hp:caption>{sub_list(p(caption))}</hp:caption>" if caption else ""
    return run(f'<hp:pic><hc:img binaryItemIDRef="{item}"/>{cap}</hp:pic>')


def equation(script: str) -> str:
    return run(f"<hp:equation><hp:script>{escape(script)}</hp:script></hp:equation>")


def text_box(*paragraphs: str, shape: str = "rect", as_char: bool = False) -> str:
    position = f'<hp:pos treatAsChar="{int(as_char)}" vertRelTo="PARA" horzRelTo="PARA"/>'
    return f"<hp:{shape}>{position}<hp:drawText>{sub_list(*paragraphs)}</hp:drawText></hp:{shape}>"


def section(*paragraphs: str) -> str:
    return f"{DECLARATION}<hs:sec {NAMESPACES}>" + "".join(paragraphs) + "</hs:sec>"


def numbering(ident: int, levels: list[tuple[str, str, int]]) -> str:
    """An hh:numbering: levels of (format, numFormat, start), level 1 first."""
    heads = "".join(f'<hh:paraHead start="{start}" level="{k + 1}" align="LEFT" numFormat="{shape}" '
                    f'charPrIDRef="4294967295">{escape(fmt)}</hh:paraHead>'
                    for k, (fmt, shape, start) in enumerate(levels))
    return f'<hh:numbering id="{ident}" start="0">{heads}</hh:numbering>'


def bullet(ident: int, char: str) -> str:
    return (f'<hh:bullet id="{ident}" char={quoteattr(char)} useImage="0">'
            '<hh:paraHead level="0" align="LEFT" numFormat="DIGIT"/></hh:bullet>')


def header_xml(outline_shapes: dict[int, int | None] | None = None, padding: int = 0,
               heads: dict[int, tuple[str, int, int]] | None = None, numberings: list[str] = (),
               bullets: list[str] = (), char_shapes: list[str] = ()) -> str:
    """Paragraph shapes: id -> outline level (0-based), None for body text;
    heads: id -> (heading type, idRef, level) for numbered and bulleted
    shapes. Each shape and the character shapes before them padded with
    that many bytes of margins (a real header's bulk). char_shapes: the
    children of character shapes 1, 2, ... ("<hh:bold/>")."""
    margin = f'<hh:margin><hc:left value="{"0" * padding}" unit="HWPUNIT"/></hh:margin>' if padding else ""
    all_heads = {i: ("NONE" if lv is None else "OUTLINE", 0, lv or 0) for i, lv in (outline_shapes or {}).items()}
    all_heads.update(heads or {})
    shapes = "".join(f'<hh:paraPr id="{i}" tabPrIDRef="0"><hh:heading type="{kind}" '
                     f'idRef="{ref}" level="{lv}"/>{margin}</hh:paraPr>'
                     for i, (kind, ref, lv) in all_heads.items())
    characters = (f'<hh:charProperties itemCnt="{1 + len(char_shapes)}"><hh:charPr id="0">{margin}</hh:charPr>'
                  + "".join(f'<hh:charPr id="{k + 1}" height="1000">{inner}</hh:charPr>'
                            for k, inner in enumerate(char_shapes))
                  + "</hh:charProperties>")
    lists = ""
    if numberings:
        lists += f'<hh:numberings itemCnt="{len(numberings)}">' + "".join(numberings) + "</hh:numberings>"
    if bullets:
        lists += f'<hh:bullets itemCnt="{len(bullets)}">' + "".join(bullets) + "</hh:bullets>"
    return (f"{DECLARATION}<hh:head {NAMESPACES}><hh:refList>{characters}{lists}"
            f'<hh:paraProperties itemCnt="{len(all_heads)}">{shapes}</hh:paraProperties>'
            f"</hh:refList></hh:head>")


def content_hpf(sections: list[str], pictures: list[str], metadata: dict[str, str], spine: bool = True,
                items: dict[str, str] | None = None) -> str:
    """The content index; ``items`` adds manifest items by id -> href as given."""
    meta = "".join(f'<opf:meta name={quoteattr(k)} content="text">{escape(v)}</opf:meta>'
                   for k, v in metadata.items() if k != "title")
    title = f"<opf:title>{escape(metadata.get('title', ''))}</opf:title>"
    entries = '<opf:item id="header" href="Contents/header.xml" media-type="application/xml"/>'
    entries += "".join(f'<opf:item id="section{n}" href="{name}" media-type="application/xml"/>'
                     for n, name in enumerate(sections))
    entries += "".join(f'<opf:item id="{name.split(".")[0]}" href="BinData/{name}" media-type="image/png"/>'
                     for name in pictures)
    entries += "".join(f'<opf:item id={quoteattr(k)} href={quoteattr(v)} media-type="image/png"/>'
                     for k, v in (items or {}).items())
    refs = '<opf:itemref idref="header"/>' + "".join(
        f'<opf:itemref idref="section{n}"/>' for n in range(len(sections))) if spine else ""
    return (f"{DECLARATION}<opf:package {NAMESPACES}><opf:metadata>{title}{meta}</opf:metadata>"
            f"<opf:manifest>{entries}</opf:manifest><opf:spine>{refs}</opf:spine></opf:package>")


def package(sections: list[str], *, pictures: dict[str, bytes] | None = None, metadata: dict[str, str] | None = None,
            outline_shapes: dict[int, int | None] | None = None, shape_padding: int = 0, spine: bool = True,
            header: str | None = None,
            encrypted: bool = False, extra: dict[str, bytes | str] | None = None, backslashes: bool = False,
            stored: bool = False, items: dict[str, str] | None = None) -> bytes:
    """A package; ``items`` are manifest items (id -> href) whose entries, if
    any, come in ``extra``."""
    pictures = pictures or {}
    names = [f"Contents/section{n}.xml" for n in range(len(sections))]
    entries: dict[str, bytes | str] = {
        "mimetype": "application/hwp+zip",
        "version.xml": f'{DECLARATION}<hv:HCFVersion xmlns:hv="v" major="5" minor="1" micro="0" buildNumber="1"/>',
        "Contents/header.xml": header if header is not None else header_xml(outline_shapes, shape_padding),
        "Contents/content.hpf": content_hpf(names, list(pictures), metadata or {}, spine, items),
        "META-INF/manifest.xml": (f'{DECLARATION}<odf:manifest xmlns:odf="m">'
                                  + ('<odf:file-entry><odf:encryption-data/></odf:file-entry>' if encrypted else "")
                                  + "</odf:manifest>"),
    }
    entries.update(zip(names, sections))
    entries.update({f"BinData/{name}": data for name, data in pictures.items()})
    entries.update(extra or {})
    return zip_entries(entries, backslashes=backslashes, stored=stored)


def zip_entries(entries: dict[str, bytes | str], *, backslashes: bool = False, stored: bool = False) -> bytes:
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in entries.items():
            info = zipfile.ZipInfo(name.replace("/", "\\") if backslashes else name)
            info.compress_type = zipfile.ZIP_STORED if stored or name == "mimetype" else zipfile.ZIP_DEFLATED
            archive.writestr(info, data.encode() if isinstance(data, str) else data)
    return out.getvalue()


def patch_directory(data: bytes, name: str, *, size: int | None = None, crc: int | None = None) -> bytes:
    """Rewrites the uncompressed size or CRC the central directory states for name."""
    out = bytearray(data)
    at = out.find(b"PK\x01\x02" + b"", 0)
    while at >= 0:
        name_length = struct.unpack_from("<H", out, at + 28)[0]
        if out[at + 46:at + 46 + name_length].decode() == name:
            if size is not None:
                struct.pack_into("<I", out, at + 24, size)
            if crc is not None:
                struct.pack_into("<I", out, at + 16, crc)
            return bytes(out)
        at = out.find(b"PK\x01\x02", at + 46)
    raise KeyError(name)
