grammar.abnf: \
  in.pvx \
  in.pvxcfg \
  lib.pvx

in.pvx:

in.pvxcfg:

lib.pvx:
