"""The player's language, end to end: Wine takes the user's preferred UI language from LC_ALL,
and the real launcher shows its agreement window and its failure boxes in the first of the
user's languages that it has, or else in English.

Each language is run twice (the agreement window, "I Accept", then the box of the self-update's
failure, since the update server has no files): what the player reads must differ from the
English, be the same in both runs, and be the texts file's own. A language the launcher does not
have gives exactly the English texts."""


import pytest

from harness import AGREEMENT_KEY, MESSAGE_BOX_CLASS, REPO, WINDOW_CLASS, eventually, wait_exit

pytestmark = pytest.mark.usefixtures("server")

TEXTS = REPO / "resources" / "texts"
IDOK = 1
ACCEPT_ID = 100


def read_texts(language: str) -> dict[str, str]:
    """The short texts of a texts file ("key: text" lines before "agreement:"), read by the
    test's own reading of the format."""
    texts = {}
    for line in (TEXTS / f"{language}.txt").read_text(encoding="utf-8").splitlines():
        if line.startswith("agreement:"):
            break
        if line and not line.startswith("#") and ":" in line:
            key, _, text = line.partition(":")
            texts[key.strip()] = text.strip()
    return texts


def seen_in_one_run(game, locale: str) -> dict[str, object]:
    """The agreement window's title, label and buttons, then (after "I Accept") the failure box's
    caption and text, as the launcher showed them."""
    wine = game.wine
    wine.reg_delete_key(AGREEMENT_KEY)

    def consent():
        shown = [w for w in wine.windows(WINDOW_CLASS) if w.visible and w.title]
        return shown[0] if shown else None

    launcher = game.start(env={"LC_ALL": locale})
    assert eventually(consent, timeout=30), wine.processes()
    window = consent()
    seen = {"title": window.title, "controls": [c["text"] for c in window.children if c["class"].lower() != "edit"]}
    wine.zvwin("press", "--hwnd", str(window.hwnd), "--id", str(ACCEPT_ID))

    def box():
        boxes = [w for w in wine.windows(MESSAGE_BOX_CLASS) if w.pid == window.pid]
        return boxes[0] if boxes else None

    assert eventually(box, timeout=60), wine.processes()
    shown = box()
    seen["caption"], seen["text"] = shown.title, shown.static_texts()
    wine.zvwin("press", "--hwnd", str(shown.hwnd), "--id", str(IDOK))
    assert wait_exit(launcher) == 1
    return seen


def expected(language: str) -> dict[str, object]:
    texts = read_texts(language)
    return {"title": texts["title"],
            "controls": [texts["consent.instruction"], texts["consent.accept"], texts["consent.cancel"]],
            "caption": texts["caption.launcher-update"], "text": [texts["result.1"]]}


@pytest.mark.parametrize("locale, language", [
    ("de_DE.UTF-8", "de"), ("fr_FR.UTF-8", "fr"), ("es_ES.UTF-8", "es"), ("pt_BR.UTF-8", "pt-BR"),
    ("ru_RU.UTF-8", "ru"), ("pl_PL.UTF-8", "pl"), ("ja_JP.UTF-8", "ja"), ("ko_KR.UTF-8", "ko"),
    ("zh_CN.UTF-8", "zh-CN"),
    # A regional form falls back to its language.
    ("de_AT.UTF-8", "de"), ("pt_PT.UTF-8", "pt-BR"),
    # A language the launcher does not have: English.
    ("fi_FI.UTF-8", "en"),
])
def test_the_player_reads_the_launcher_in_windows_language(game, locale, language):
    first = seen_in_one_run(game, locale)
    second = seen_in_one_run(game, locale)
    assert first == second
    assert first == expected(language)
    english = expected("en")
    if language == "en":
        assert first == english
    else:
        assert all(first[part] != english[part] for part in english), first
