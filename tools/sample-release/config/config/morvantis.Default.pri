[morvantis]
language=0
theme=dark
fontsize=12
