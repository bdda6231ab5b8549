import pemrik


def test_import():
    assert pemrik.__all__ == ["Pemrik", "PemrikCollection", "HTTPMETHOD"]
