import sys

from marlune.cli import main

sys.exit(main())
