"""Distribution documents (the body encrypted in ViewText) read by the faithful
conversion; HWP 3.0 and password-protected files refused by name."""

from __future__ import annotations

import struct
from pathlib import Path

import pytest

import hwpfixture as hf
import marlune
from marlune import _convert, _marlune, cli

SHARED = Path(__file__).resolve().parents[2].parent / "shared"
NOTICE = "배포용 문서입니다"
BODY = [hf.para("배포용 문서의 첫 구역") + hf.para("둘째 문단"), hf.para("둘째 구역")]


@pytest.mark.parametrize("compressed", [True, False], ids=["compressed", "stored"])
@pytest.mark.parametrize("as_bytes", [False, True], ids=["path", "bytes"])
def test_the_body_is_read_from_view_text(write_file, compressed: bool, as_bytes: bool) -> None:
    data = hf.distribution_document(BODY, compressed=compressed, notice=NOTICE)
    document = marlune.parse(data if as_bytes else write_file(data))
    assert document.markdown == "배포용 문서의 첫 구역\n\n둘째 문단\n\n둘째 구역"
    assert document.metadata["distribution"] is True
    assert document.metadata["sections"] == 2


def test_other_documents_have_no_distribution_key() -> None:
    assert "distribution" not in marlune.parse(hf.hwp_document([hf.para("본문")])).metadata


def test_the_exact_conversion_still_reads_body_text(write_file) -> None:
    assert _marlune.hwp_to_markdown(write_file(hf.distribution_document(BODY, notice=NOTICE))) == NOTICE


def _stream(section: bytes = BODY[0], **kwargs: object) -> bytes:
    return hf.view_text_stream(section, **kwargs)  # type: ignore[arg-type]


_GOOD = _stream()
_DAMAGED = {
    "flag without ViewText": (None, r"the body \(ViewText/Section0\) is missing"),
    "wrong key": ([_GOOD[:4 + 10] + bytes([_GOOD[14] ^ 1]) + _GOOD[15:]],
                  r"the body cannot be decrypted \(a wrong key or a damaged stream\)"),
    "short record": ([hf.record(hf.HWPTAG_DISTRIBUTE_DOC_DATA, 0, _GOOD[4:200]) + _GOOD[260:]],
                     "the key record holds 196 bytes, not 256"),
    "no key record": ([_GOOD[260:]], "the stream does not start with its key record"),
    "truncated stream": ([_GOOD[:-7]], r"the encrypted body is cut short \(\d+ bytes\)"),
    "damaged second section": ([_GOOD, _GOOD[:-1]], "the encrypted body is cut short"),
}


@pytest.mark.parametrize("case", _DAMAGED, ids=list(_DAMAGED))
def test_a_damaged_body_gives_the_clear_error(case: str) -> None:
    streams, message = _DAMAGED[case]
    with pytest.raises(RuntimeError, match="^distribution document: " + message):
        marlune.convert(hf.distribution_document(BODY, view_streams=streams, notice=NOTICE))


HWP3 = b"HWP Document File V3.00 \x1a\x01\x02\x03\x04\x05" + bytes(100)


def test_hwp_to_markdown_keeps_its_error_for_hwp3(write_file) -> None:
    with pytest.raises(RuntimeError, match="^Compound file error: "):
        _marlune.hwp_to_markdown(write_file(HWP3))


def test_the_exact_command_line_names_hwp3_files(write_file, capsys) -> None:
    path = write_file(HWP3, "old.hwp")
    assert cli.main(["-q", "-j", "1", "--exact", path]) != 0
    assert f"{path}: HWP 3.0 documents are not supported" in capsys.readouterr().err


def test_password_protected_documents_say_so() -> None:
    header = hf.file_header(flags=hf.PASSWORD_FLAG | 1)
    with pytest.raises(RuntimeError, match="^Password-protected HWP files are not supported$"):
        _convert.convert(hf.hwp_document([hf.para("x")], header=header))


# ---- Real documents ---------------------------------------------------------

# Each document and a piece of its text (the last one's body is one empty
# paragraph: its section and column definitions alone).
DISTRIBUTED = {
    "reference/hwpspec.hwp": "3.2. 문서 정보",
    "reference/hwp-3.0-HWPML.hwp": "3.1. 파일 인식 정보",
    "corpus-diverse/ohah__hwpjs/crates/hwp-core/tests/fixtures/distribution.hwp": "2.1. Seed 찾기",
    "corpus-diverse/openhwp__openhwp/docs/hwp/hwp/한글문서파일형식_수식_revision1.3.hwp": "수식",
    "corpus-diverse/openhwp__openhwp/docs/hwp/hwp/한글문서파일형식_차트_revision1.2.hwp": "차트",
    "corpus-diverse/sboh1214__hwp-swift/Tests/CoreHwpTests/Fixtures/배포용문서/document.hwp": "",
}
DISTRIBUTION_NOTICE = "이 문서는 상위 버전의 배포용 문서입니다"


@pytest.mark.parametrize("name", DISTRIBUTED)
def test_real_distribution_documents_give_their_text(name: str) -> None:
    path = SHARED / name
    if not path.is_file():
        pytest.skip(f"not present: {path}")
    document = marlune.parse(path)
    assert document.metadata["distribution"] is True
    assert DISTRIBUTION_NOTICE not in document.markdown
    assert DISTRIBUTED[name] in document.markdown
    assert DISTRIBUTION_NOTICE in _marlune.hwp_to_markdown(str(path))
