"""ClassAds, expressions and configuration of the Torvel library.

The compiled part is torvel._torvel; everything public is re-exported here.
"""
from torvel._torvel import (
    AdReader,
    ClassAd,
    ConfigError,
    Error,
    ErrorType,
    Expr,
    ParseError,
    TorvelError,
    Undefined,
    UndefinedType,
    __version__,
    analyze,
    expand,
    load_config,
    match_all,
    param,
    param_bool,
    param_float,
    param_int,
    read_ads,
    saved_debug_lines,
    version,
    where,
)

__all__ = [
    "AdReader", "ClassAd", "ConfigError", "Error", "ErrorType", "Expr", "ParseError", "TorvelError",
    "Undefined", "UndefinedType", "__version__", "analyze", "expand", "load_config", "match_all",
    "param", "param_bool", "param_float", "param_int", "read_ads", "saved_debug_lines",
    "version", "where",
]
