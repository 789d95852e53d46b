"""The MCP server, started as a subprocess and driven by the SDK's own stdio client."""

from __future__ import annotations

import asyncio
import base64
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest
from mcp import ClientSession, StdioServerParameters
from mcp.client.stdio import stdio_client

import hwpfixture as hf
import hwpxfixture as xf
import marlune
from marlune.mcp import page_end, page_note

PNG = b"\x89PNG\r\n\x1a\n" + bytes(16)
LONG_TEXT = [f"{n}번째 문단: 긴 문서를 여러 쪽으로 나누어 읽습니다." for n in range(40)]


@pytest.fixture
def root(tmp_path: Path) -> Path:
    """A folder served by the server, a folder beside it that is not, and
    links from the one into the other."""
    served, outside = tmp_path / "served", tmp_path / "outside"
    (served / "sub").mkdir(parents=True)
    outside.mkdir()
    hf.write_document(served / "long.hwp", [b"".join(hf.para(text) for text in LONG_TEXT)])
    (served / "sub" / "pictures.hwpx").write_bytes(
        xf.package([xf.section(xf.p(xf.picture("image1", "그림")))], pictures={"image1.png": PNG},
                   metadata={"title": "사진 모음"}))
    (served / "broken.hwp").write_bytes(b"not a compound file" * 30)
    (served / "notes.txt").write_text("not a document")
    hf.write_document(outside / "secret.hwp", [hf.para("비밀")])
    (served / "link.hwp").symlink_to(outside / "secret.hwp")
    (served / "linked").symlink_to(outside)
    return served


def run_session(root: Path, scenario, *extra: str):
    """Runs scenario(session) against a server serving root."""
    # The server gets this process's environment, so that it imports the
    # same build of marlune (an installed wheel, an instrumented module).
    parameters = StdioServerParameters(command=sys.executable, args=["-m", "marlune.mcp", "--root", str(root), *extra],
                                       cwd=str(root), env=dict(os.environ))

    async def main():
        async with stdio_client(parameters) as (read, write), ClientSession(read, write) as session:
            await session.initialize()
            return await scenario(session)

    return asyncio.run(main())


def texts(result) -> list[str]:
    return [block.text for block in result.content if block.type == "text"]


def test_tools_are_listed_with_their_parameters(root):
    async def scenario(session):
        return {tool.name: tool for tool in (await session.list_tools()).tools}

    tools = run_session(root, scenario)
    assert set(tools) == {"list_documents", "read_document", "document_metadata", "document_images"}
    read = tools["read_document"].input_schema["properties"]
    assert {"path", "tables", "notes", "headers", "offset", "max_chars"} <= set(read)
    assert all(tool.description for tool in tools.values())


def test_a_long_document_read_in_pages_joins_to_convert(root):
    async def scenario(session):
        pages, notes, offset = [], [], 0
        while True:
            result = await session.call_tool("read_document", {"path": "long.hwp", "offset": offset, "max_chars": 300})
            assert not result.is_error
            page, note = texts(result)
            pages.append(page)
            notes.append(note)
            if "more follows" not in note:
                return pages, notes
            offset = int(note.rsplit("offset=", 1)[1].rstrip("]"))

    pages, notes = run_session(root, scenario)
    whole = marlune.convert(root / "long.hwp")
    assert len(pages) > 2 and "".join(pages) == whole
    assert all(page.endswith("\n") for page in pages[:-1])  # pages end at a line break
    assert notes[-1] == f"[characters {len(whole) - len(pages[-1])}–{len(whole)} of {len(whole)}: the end of the document]"


def test_listing_metadata_and_pictures(root):
    async def scenario(session):
        listing = await session.call_tool("list_documents", {})
        metadata = await session.call_tool("document_metadata", {"path": "sub/pictures.hwpx"})
        images = await session.call_tool("document_images", {"path": str(root / "sub" / "pictures.hwpx")})
        return listing, metadata, images

    listing, metadata, images = run_session(root, scenario)
    found = json.loads(texts(listing)[0])
    assert [d["path"] for d in found["documents"]] == ["broken.hwp", "long.hwp", "sub/pictures.hwpx"]
    assert found["documents"][1]["size"] == (root / "long.hwp").stat().st_size and not found["truncated"]
    described = json.loads(texts(metadata)[0])
    assert described["title"] == "사진 모음" and described["format"] == "hwpx"
    pictures = [block for block in images.content if block.type == "image"]
    assert [(p.mime_type, base64.b64decode(p.data)) for p in pictures] == [("image/png", PNG)]
    assert "image1.png (image/png, 24 bytes): shown" in texts(images)[0]


REFUSED = [
    ("read_document", "../outside/secret.hwp", "outside the folders"),
    ("read_document", "{outside}/secret.hwp", "outside the folders"),
    ("read_document", "link.hwp", "outside the folders"),
    ("document_metadata", "linked/secret.hwp", "outside the folders"),
    ("document_images", "sub/../../outside/secret.hwp", "outside the folders"),
    ("list_documents", "../outside", "outside the folders"),
    ("read_document", "notes.txt", "not an HWP or HWPX document"),
    ("read_document", "missing.hwp", "cannot open"),
    ("read_document", "sub", "not an HWP or HWPX document"),
    ("read_document", "broken.hwp", "broken.hwp: Compound file error"),
]


def test_refused_and_damaged_paths_are_errors_of_that_call(root):
    """Each refusal is an error result; the server goes on serving (one
    server for all cases, each followed by a call that succeeds)."""
    async def scenario(session):
        outcomes = []
        for tool, path, _message in REFUSED:
            argument = "directory" if tool == "list_documents" else "path"
            refused = await session.call_tool(tool, {argument: path.format(outside=root.parent / "outside")})
            after = await session.call_tool("document_metadata", {"path": "long.hwp"})
            outcomes.append((refused, after))
        return outcomes

    for (tool, path, message), (refused, after) in zip(REFUSED, run_session(root, scenario)):
        assert refused.is_error and message in texts(refused)[0], (tool, path, texts(refused))
        assert "비밀" not in texts(refused)[0]
        assert not after.is_error


def test_a_document_over_the_size_limit_is_refused(root):
    async def scenario(session):
        return await session.call_tool("read_document", {"path": "long.hwp"})

    result = run_session(root, scenario, "--max-bytes", "100")
    assert result.is_error and "over this server's limit of 100" in texts(result)[0]


def test_two_calls_in_flight_at_once(root):
    async def scenario(session):
        return await asyncio.gather(
            session.call_tool("read_document", {"path": "long.hwp"}),
            session.call_tool("read_document", {"path": "sub/pictures.hwpx", "tables": "html"}),
            session.call_tool("read_document", {"path": "broken.hwp"}))

    long, pictures, broken = run_session(root, scenario)
    assert texts(long)[0] == marlune.convert(root / "long.hwp")
    assert texts(pictures)[0] == marlune.convert(root / "sub" / "pictures.hwpx", tables="html")
    assert broken.is_error


@pytest.mark.parametrize("text, offset, max_chars, end", [
    ("abc", 0, 10, 3),                      # all of it
    ("aaaa\nbbbb\ncccc", 0, 12, 10),         # back to the line break in the last fifth
    ("aaaaaaaaa\nbbbb", 0, 5, 5),            # no break near the end: cut at the limit
    ("aa\nbb\ncc", 3, 4, 7),                # from an offset
])
def test_page_ends(text, offset, max_chars, end):
    assert page_end(text, offset, max_chars) == end


def test_page_note_says_where_to_go_on():
    assert page_note(0, 10, 30) == "[characters 0–10 of 30: more follows; call read_document again with offset=10]"
    assert page_note(10, 30, 30) == "[characters 10–30 of 30: the end of the document]"


def test_command_line_serves_and_refuses_a_missing_root(root, tmp_path):
    run = subprocess.run([sys.executable, "-m", "marlune.cli", "mcp", "--root", str(tmp_path / "none")],
                         capture_output=True, text=True, cwd=root)
    assert run.returncode == 2 and "not a folder" in run.stderr
    helped = subprocess.run([sys.executable, "-m", "marlune.cli", "mcp", "--help"], capture_output=True, text=True)
    assert helped.returncode == 0 and "--root DIR" in helped.stdout
    assert os.path.exists(root / "long.hwp")
